// The content of the "Open file" page: folder tree, splitter, file list, the link between tree
// and list, and the filter box, with the window's handlers for them. What opening a document
// does to the rest of the window goes through LocalDocumentChooserHost, so the chooser can be
// tested without the main window. Errors raised while the list or the filter box calls a
// handler go to the application's general error handler.
#pragma once

#include <QWidget>

class QSplitter;
class TFilterComboBox;
class TJamShellLink;
class TJamShellList;
class TJamShellTree;

namespace document {

class LocalDocumentChooserHost {
  public:
    virtual ~LocalDocumentChooserHost() = default;
    // Loads the document path into the browser view; throws when the view refuses it.
    virtual void navigateBrowserView(const QString& documentPath) = 0;
    virtual void ApplyViewSize() = 0;
    // Makes "Open website" the active page.
    virtual void showOpenWebsitePage() = 0;
};

class LocalDocumentChooser : public QWidget {
    Q_OBJECT
  public:
    static constexpr const char* DocumentFilter = "HTML files (*.HTM;*.HTML)|*.HTM;*.HTML|All files(*.*)|*.*";

    explicit LocalDocumentChooser(LocalDocumentChooserHost& host, QWidget* parent = nullptr);
    ~LocalDocumentChooser() override;

    // The chooser's share of the window's creation: the list takes the filter box's mask and
    // the tree selects the program's folder (which the list then shows).
    void FormCreate(const QString& programDir);

    void FilterComboBox1Change(QObject* sender);
    void JamShellList1DblClick(QObject* sender);
    void JamShellList1KeyPress(QObject* sender, QChar& key);
    // Opens the named file of the tree's folder in the browser view. Errors of the view
    // propagate; the sizing rule and the page switch then do not happen.
    void openfilenow(const QString& fileName);

    TJamShellTree* JamShellTree1;
    QSplitter* Splitter1;
    TJamShellList* JamShellList1;
    TJamShellLink* JamShellLink1;
    TFilterComboBox* FilterComboBox1;

  private:
    LocalDocumentChooserHost& m_host;
};

} // namespace document
