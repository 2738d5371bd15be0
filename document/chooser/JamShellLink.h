// Keeps the folder tree and the file list on the same folder: the tree's choice is shown in
// the list, a folder opened in the list is selected in the tree.
#pragma once

#include <QObject>
#include <QPointer>

class TJamShellList;
class TJamShellTree;

class TJamShellLink : public QObject {
    Q_OBJECT
  public:
    explicit TJamShellLink(QObject* parent = nullptr);

    void setShellTree(TJamShellTree* tree);
    void setShellList(TJamShellList* list);
    TJamShellTree* shellTree() const { return m_tree; }
    TJamShellList* shellList() const { return m_list; }

  private:
    void connectBoth();

    QPointer<TJamShellTree> m_tree;
    QPointer<TJamShellList> m_list;
    QList<QMetaObject::Connection> m_connections;
};
