target_sources(platform PRIVATE
  MessageBox.h
  MessageBox.cpp
)
