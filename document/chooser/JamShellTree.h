// The folder tree of the "Open file" page: every folder of the machine under the file-system
// root, the user's home folder one key (Alt+Home) or menu entry away.
#pragma once

#include <QTreeView>

class QFileSystemModel;

class TJamShellTree : public QTreeView {
    Q_OBJECT
  public:
    explicit TJamShellTree(QWidget* parent = nullptr);

    // The file-system path of the selected folder: "/" for the root, other folders without a
    // trailing "/"; empty while nothing is selected.
    QString SelectedFolder() const;
    // Selects the folder, expanding the tree down to it. A path that is not (or no longer) a
    // folder selects the nearest folder above it that exists, so a stale path still leads
    // somewhere sensible instead of leaving the list without a folder.
    void setSelectedFolder(const QString& path);

    void selectHomeFolder();

    QFileSystemModel* fileSystemModel() const { return m_model; }

  signals:
    void selectedFolderChanged(const QString& path);

  protected:
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void showEvent(QShowEvent* event) override;

  private:
    void revealSelection();

    QFileSystemModel* m_model;
    // Set when a folder is selected by code: keep it in view while the folders around it are
    // still being read (their rows push it down), until the user takes over.
    bool m_revealPending = false;
};
