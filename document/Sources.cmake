target_sources(document PRIVATE
  WebBrowser.h
  WebBrowser.cpp
)
# Local document chooser of the "Open file" page
target_sources(document PRIVATE
  chooser/PathMatchSpec.h
  chooser/PathMatchSpec.cpp
  chooser/FilterComboBox.h
  chooser/FilterComboBox.cpp
  chooser/JamShellTree.h
  chooser/JamShellTree.cpp
  chooser/JamShellList.h
  chooser/JamShellList.cpp
  chooser/JamShellLink.h
  chooser/JamShellLink.cpp
  chooser/LocalDocumentChooser.h
  chooser/LocalDocumentChooser.cpp
)
# "Open website" and "Size" pages: address rule, sizing rule and preview, file-name edit
target_sources(document PRIVATE
  AddressRule.h
  AddressRule.cpp
  ViewSize.h
  ViewSize.cpp
  FileNameEdit.h
  FileNameEdit.cpp
)
