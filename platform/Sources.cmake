target_sources(platform_system PRIVATE
  MessageBox.h
  MessageBox.cpp
  Shell.h
  Shell.cpp
  Help.h
  Help.cpp
  AppEvents.h
  AppEvents.cpp
)
