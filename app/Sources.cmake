# About dialog
target_sources(app PRIVATE
  AboutBoxUnit.h
  AboutBoxUnit.cpp
  resources/about/about.qrc
)
# Main window and application start-up
target_sources(app PRIVATE
  Application.h
  Application.cpp
  MainUnit.h
  MainUnit.cpp
  MainUnitLayout.cpp
  PrintPicture.h
  PrintPicture.cpp
  ProgressIndicator.h
  ProgressIndicator.cpp
  ResultView.h
  ResultView.cpp
  resources/artwork/artwork.qrc
)
