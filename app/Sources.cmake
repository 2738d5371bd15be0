# About dialog
target_sources(app PRIVATE
  AboutBoxUnit.h
  AboutBoxUnit.cpp
  resources/about/about.qrc
)
