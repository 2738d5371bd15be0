#include "document/chooser/JamShellList.h"

#include "document/chooser/PathMatchSpec.h"
#include "platform/Shell.h"

#include <QDir>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QFileSystemWatcher>
#include <QHeaderView>
#include <QKeyEvent>
#include <QSortFilterProxyModel>
#include <algorithm>

namespace {
constexpr int MinimumNameWidth = 180;
}

// Narrows the shown folder's files to the masks. Only the shown folder's own rows are judged:
// the folders above it must stay in the model, or the list would lose its root.
class JamShellListFilter : public QSortFilterProxyModel {
  public:
    explicit JamShellListFilter(QObject* parent) : QSortFilterProxyModel(parent) {}

    void setMasks(const QStringList& masks) {
        m_masks = masks;
        invalidateFilter();
    }

    void setFolder(const QPersistentModelIndex& folder) {
        m_folder = folder;
        invalidateFilter();
    }

    // The file-system model sorts the way a file manager does (folders first, names in
    // natural order), so sorting is left to it and this model keeps its order.
    void sort(int column, Qt::SortOrder order) override { sourceModel()->sort(column, order); }

  protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const override {
        if (!m_folder.isValid()) return false;
        if (sourceParent != m_folder) return true;
        const auto* model = static_cast<const QFileSystemModel*>(sourceModel());
        const QModelIndex item = model->index(sourceRow, 0, sourceParent);
        return model->isDir(item) || document::fileMatchesMasks(model->fileName(item), m_masks);
    }

  private:
    QStringList m_masks;
    QPersistentModelIndex m_folder;
};

TJamShellList::TJamShellList(QWidget* parent)
    : QTreeView(parent), m_model(new QFileSystemModel(this)), m_proxy(new JamShellListFilter(this)),
      m_watcher(new QFileSystemWatcher(this)) {
    m_model->setFilter(QDir::AllDirs | QDir::Files | QDir::NoDotAndDotDot | QDir::Drives);
    m_model->setReadOnly(true);
    m_proxy->setSourceModel(m_model);
    setModel(m_proxy);
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setUniformRowHeights(true);
    setAllColumnsShowFocus(true);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setDragDropMode(QAbstractItemView::NoDragDrop);
    setDragEnabled(false);
    setAcceptDrops(false);
    setSortingEnabled(true);
    sortByColumn(0, Qt::AscendingOrder);
    header()->setStretchLastSection(false);
    header()->resizeSection(0, MinimumNameWidth);
    header()->resizeSection(1, 80);
    header()->resizeSection(2, 90);
    header()->resizeSection(3, 150);

    QFont font(QStringLiteral("Segoe UI"));
    font.setPixelSize(12);
    setFont(font);

    // A shown folder that disappears from disk leaves the list empty: the model would keep
    // showing what it last read, or fall back to its top level once it drops the folder.
    connect(m_watcher, &QFileSystemWatcher::directoryChanged, this, [this](const QString& path) {
        if (path == m_folder && !QFileInfo(m_folder).isDir()) showFolder();
    });
    connect(m_model, &QAbstractItemModel::rowsRemoved, this, [this] {
        if (!m_folder.isEmpty() && !m_model->index(m_folder).isValid()) showFolder();
    });
    showFolder();
}

TJamShellList::~TJamShellList() = default;

void TJamShellList::setFilter(const QString& filter) {
    if (filter == m_filter) return;
    m_filter = filter;
    m_proxy->setMasks(document::splitFilterMasks(filter));
}

void TJamShellList::setFolder(const QString& path) {
    const QString folder = path.isEmpty() ? QString() : QDir::cleanPath(QDir(path).absolutePath());
    if (folder == m_folder) return;
    if (!m_watcher->directories().isEmpty()) m_watcher->removePaths(m_watcher->directories());
    m_folder = folder;
    if (!m_folder.isEmpty()) {
        m_model->setRootPath(m_folder);
        if (QFileInfo(m_folder).isDir()) m_watcher->addPath(m_folder);
    }
    showFolder();
}

void TJamShellList::showFolder() {
    const QModelIndex source = m_folder.isEmpty() ? QModelIndex() : m_model->index(m_folder);
    const bool readable = source.isValid() && m_model->isDir(source) && QFileInfo(m_folder).isDir();
    m_proxy->setFolder(readable ? QPersistentModelIndex(source) : QPersistentModelIndex());
    setRootIndex(readable ? m_proxy->mapFromSource(source) : QModelIndex());
    clearSelection();
    setCurrentIndex(QModelIndex());
}

QList<QModelIndex> TJamShellList::selectedItems() const {
    QList<QModelIndex> items = selectionModel()->selectedRows(0);
    std::sort(items.begin(), items.end(),
              [](const QModelIndex& a, const QModelIndex& b) { return a.row() < b.row(); });
    return items;
}

int TJamShellList::SelCount() const {
    return int(selectionModel()->selectedRows(0).size());
}

QModelIndex TJamShellList::firstSelected() const {
    const QList<QModelIndex> items = selectedItems();
    return items.isEmpty() ? QModelIndex() : items.front();
}

bool TJamShellList::isFolder(const QModelIndex& item) const {
    return item.isValid() && m_model->isDir(m_proxy->mapToSource(item));
}

QString TJamShellList::fileName(const QModelIndex& item) const {
    return item.isValid() ? m_model->fileName(m_proxy->mapToSource(item)) : QString();
}

QString TJamShellList::filePath(const QModelIndex& item) const {
    return item.isValid() ? m_model->filePath(m_proxy->mapToSource(item)) : QString();
}

void TJamShellList::InvokeDefaultAction() {
    const QList<QModelIndex> items = selectedItems();
    if (items.isEmpty()) return;
    if (items.size() == 1 && isFolder(items.front())) {
        openFolder(filePath(items.front()));
        return;
    }
    // Paths are collected first: handing a file to the desktop may change the folder (and so
    // the model) under our feet.
    QStringList paths;
    for (const QModelIndex& item : items)
        paths.append(filePath(item));
    const QByteArray folder = m_folder.toUtf8();
    for (const QString& path : paths)
        platform::ShellExecuteA(window(), "open", path.toUtf8().constData(), "", folder.constData(),
                                platform::SW_SHOW);
}

void TJamShellList::openFolder(const QString& path) {
    setFolder(path);
    emit folderOpened(m_folder);
}

void TJamShellList::mouseDoubleClickEvent(QMouseEvent* event) {
    if (m_onDblClick && event->button() == Qt::LeftButton) {
        m_onDblClick(this);
        return;
    }
    QTreeView::mouseDoubleClickEvent(event);
    if (indexAt(event->position().toPoint()).isValid()) InvokeDefaultAction();
}

void TJamShellList::resizeEvent(QResizeEvent* event) {
    QTreeView::resizeEvent(event);
    // The name takes whatever room the other columns leave, but never less than enough to
    // read it: in a narrow list the details move out to the right instead.
    int others = 0;
    for (int column = 1; column < header()->count(); ++column)
        if (!header()->isSectionHidden(column)) others += header()->sectionSize(column);
    header()->resizeSection(0, std::max(MinimumNameWidth, viewport()->width() - others));
}

void TJamShellList::keyPressEvent(QKeyEvent* event) {
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    QChar key = enter ? QChar(13) : (event->text().isEmpty() ? QChar() : event->text().front());
    if (!key.isNull() && m_onKeyPress) {
        m_onKeyPress(this, key);
        if (key.isNull()) {
            event->accept();
            return;
        }
    }
    if (enter) {
        // The list has no Enter action of its own; the key goes on to the window.
        event->ignore();
        return;
    }
    const bool up = event->key() == Qt::Key_Backspace ||
                    (event->key() == Qt::Key_Up && event->modifiers() == Qt::AltModifier);
    if (up && !isEditingLabel() && !m_folder.isEmpty() && m_folder != QDir::rootPath()) {
        openFolder(QFileInfo(m_folder).path());
        return;
    }
    QTreeView::keyPressEvent(event);
}
