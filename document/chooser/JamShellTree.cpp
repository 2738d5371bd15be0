#include "document/chooser/JamShellTree.h"

#include <QContextMenuEvent>
#include <QDir>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMenu>
#include <QTimer>

TJamShellTree::TJamShellTree(QWidget* parent) : QTreeView(parent), m_model(new QFileSystemModel(this)) {
    m_model->setFilter(QDir::AllDirs | QDir::NoDotAndDotDot | QDir::Drives);
    m_model->setReadOnly(true);
    m_model->setRootPath(QDir::rootPath());
    setModel(m_model);
    for (int column = 1; column < m_model->columnCount(); ++column)
        hideColumn(column);
    header()->hide();
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setDragDropMode(QAbstractItemView::NoDragDrop);
    setDragEnabled(false);
    setAcceptDrops(false);
    setHeaderHidden(true);
    setSortingEnabled(true);
    sortByColumn(0, Qt::AscendingOrder);

    QFont font(QStringLiteral("Segoe UI"));
    font.setPixelSize(12);
    setFont(font);

    connect(m_model, &QFileSystemModel::directoryLoaded, this, [this] {
        if (m_revealPending) QTimer::singleShot(0, this, &TJamShellTree::revealSelection);
    });
    connect(selectionModel(), &QItemSelectionModel::currentChanged, this, [this](const QModelIndex& current) {
        if (current.isValid()) emit selectedFolderChanged(m_model->filePath(current));
    });

    // The root shows open, and so does the way down to the home folder, so both the machine's
    // folders and the user's own are in sight from the start.
    const QModelIndex root = m_model->index(QDir::rootPath());
    expand(root);
    for (QModelIndex at = m_model->index(QDir::homePath()).parent(); at.isValid(); at = at.parent())
        expand(at);
}

QString TJamShellTree::SelectedFolder() const {
    const QModelIndex current = currentIndex();
    return current.isValid() ? m_model->filePath(current) : QString();
}

void TJamShellTree::setSelectedFolder(const QString& path) {
    if (path.isEmpty()) return;
    QString folder = QDir::cleanPath(QDir(path).absolutePath());
    while (!QFileInfo(folder).isDir() && folder != QDir::rootPath())
        folder = QFileInfo(folder).path();
    const QModelIndex target = m_model->index(folder);
    if (!target.isValid()) return;
    for (QModelIndex at = target.parent(); at.isValid(); at = at.parent())
        expand(at);
    setCurrentIndex(target);
    m_revealPending = true;
    revealSelection();
}

void TJamShellTree::revealSelection() {
    if (m_revealPending && currentIndex().isValid())
        scrollTo(currentIndex(), QAbstractItemView::PositionAtCenter);
}

void TJamShellTree::showEvent(QShowEvent* event) {
    QTreeView::showEvent(event);
    QTimer::singleShot(0, this, &TJamShellTree::revealSelection);
}

void TJamShellTree::mousePressEvent(QMouseEvent* event) {
    m_revealPending = false;
    QTreeView::mousePressEvent(event);
}

void TJamShellTree::wheelEvent(QWheelEvent* event) {
    m_revealPending = false;
    QTreeView::wheelEvent(event);
}

void TJamShellTree::selectHomeFolder() {
    setSelectedFolder(QDir::homePath());
}

void TJamShellTree::keyPressEvent(QKeyEvent* event) {
    m_revealPending = false;
    if (event->key() == Qt::Key_Home && event->modifiers() == Qt::AltModifier) {
        selectHomeFolder();
        return;
    }
    QTreeView::keyPressEvent(event);
}

void TJamShellTree::contextMenuEvent(QContextMenuEvent* event) {
    QMenu menu(this);
    menu.addAction(tr("Home folder"), this, &TJamShellTree::selectHomeFolder);
    menu.addAction(tr("Computer (/)"), this, [this] { setSelectedFolder(QDir::rootPath()); });
    menu.exec(event->globalPos());
}
