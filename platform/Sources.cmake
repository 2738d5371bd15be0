target_sources(platform PRIVATE
  MessageBox.h
  MessageBox.cpp
  Shell.h
  Shell.cpp
  Help.h
  Help.cpp
  AppEvents.h
  AppEvents.cpp
)
