#include "document/chooser/JamShellLink.h"

#include "document/chooser/JamShellList.h"
#include "document/chooser/JamShellTree.h"

TJamShellLink::TJamShellLink(QObject* parent) : QObject(parent) {}

void TJamShellLink::setShellTree(TJamShellTree* tree) {
    m_tree = tree;
    connectBoth();
}

void TJamShellLink::setShellList(TJamShellList* list) {
    m_list = list;
    connectBoth();
}

void TJamShellLink::connectBoth() {
    for (const QMetaObject::Connection& connection : m_connections)
        disconnect(connection);
    m_connections.clear();
    if (!m_tree || !m_list) return;
    // Each side ignores a folder it already shows, so a change travels to the other side and
    // stops there instead of bouncing back.
    m_connections.append(connect(m_tree, &TJamShellTree::selectedFolderChanged, m_list,
                                 [list = m_list.data()](const QString& path) { list->setFolder(path); }));
    m_connections.append(
        connect(m_list, &TJamShellList::folderOpened, m_tree,
                [tree = m_tree.data()](const QString& path) { tree->setSelectedFolder(path); }));
    m_list->setFolder(m_tree->SelectedFolder());
}
