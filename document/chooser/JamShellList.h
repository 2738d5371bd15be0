// The file list of the "Open file" page: one folder in report view (name, size, type, date),
// its subfolders always listed, its files narrowed by the filter masks.
#pragma once

#include <QPersistentModelIndex>
#include <QStringList>
#include <QTreeView>
#include <functional>

class QFileSystemModel;
class QFileSystemWatcher;
class JamShellListFilter;

class TJamShellList : public QTreeView {
    Q_OBJECT
  public:
    using DblClickHandler = std::function<void(QObject* sender)>;
    using KeyPressHandler = std::function<void(QObject* sender, QChar& key)>;

    explicit TJamShellList(QWidget* parent = nullptr);
    ~TJamShellList() override;

    // Masks separated by ";"; "" or "*" lists every file. Only a different filter refills the
    // list, so handing the same one again keeps the selection and the scroll position.
    void setFilter(const QString& filter);
    QString filter() const { return m_filter; }

    // The folder shown; the selection is cleared when it changes. A folder that cannot be
    // read, or that no longer exists, shows an empty list.
    void setFolder(const QString& path);
    QString folder() const { return m_folder; }

    int SelCount() const;
    // Items are indexes of the view's model; the first selected one is the topmost in the
    // list as it is currently sorted.
    QModelIndex firstSelected() const;
    QList<QModelIndex> selectedItems() const;
    bool isFolder(const QModelIndex& item) const;
    QString fileName(const QModelIndex& item) const;
    QString filePath(const QModelIndex& item) const;

    // The default action on the selection: one folder opens in the list (and, through the
    // link, in the tree); anything else is handed to the desktop's default application.
    void InvokeDefaultAction();

    bool isEditingLabel() const { return state() == QAbstractItemView::EditingState; }

    // With a double-click handler set, a double-click is the handler's alone. Enter is never
    // acted on by the list itself; the key handler sees it as the character 13, and setting
    // the character to 0 consumes any key.
    void setOnDblClick(DblClickHandler handler) { m_onDblClick = std::move(handler); }
    void setOnKeyPress(KeyPressHandler handler) { m_onKeyPress = std::move(handler); }

    QFileSystemModel* fileSystemModel() const { return m_model; }

  signals:
    // A folder was opened from within the list.
    void folderOpened(const QString& path);

  protected:
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    void openFolder(const QString& path);
    void showFolder();

    QFileSystemModel* m_model;
    JamShellListFilter* m_proxy;
    QFileSystemWatcher* m_watcher;
    QString m_filter;
    QString m_folder;
    DblClickHandler m_onDblClick;
    KeyPressHandler m_onKeyPress;
};
