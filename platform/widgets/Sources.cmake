target_sources(platform_widgets PRIVATE
  widgets/SpinEdit.h
  widgets/SpinEdit.cpp
  widgets/ImageControl.h
  widgets/ImageControl.cpp
  widgets/Panel.h
  widgets/Panel.cpp
  widgets/PaintBox.h
  widgets/PaintBox.cpp
  widgets/StatusBar.h
  widgets/StatusBar.cpp
  widgets/FileDialog.h
  widgets/FileDialog.cpp
)
