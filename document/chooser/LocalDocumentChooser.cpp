#include "document/chooser/LocalDocumentChooser.h"

#include "document/chooser/FilterComboBox.h"
#include "document/chooser/JamShellLink.h"
#include "document/chooser/JamShellList.h"
#include "document/chooser/JamShellTree.h"
#include "platform/AppEvents.h"

#include <QHBoxLayout>
#include <QSplitter>
#include <QVBoxLayout>

namespace document {

LocalDocumentChooser::LocalDocumentChooser(LocalDocumentChooserHost& host, QWidget* parent)
    : QWidget(parent), m_host(host) {
    setObjectName(QStringLiteral("LocalDocumentChooser"));

    Splitter1 = new QSplitter(Qt::Horizontal, this);
    Splitter1->setObjectName(QStringLiteral("Splitter1"));
    Splitter1->setHandleWidth(3);
    Splitter1->setChildrenCollapsible(false);

    JamShellTree1 = new TJamShellTree(Splitter1);
    JamShellTree1->setObjectName(QStringLiteral("JamShellTree1"));

    auto* listSide = new QWidget(Splitter1);
    auto* listLayout = new QVBoxLayout(listSide);
    listLayout->setContentsMargins(0, 0, 0, 0);
    listLayout->setSpacing(4);
    JamShellList1 = new TJamShellList(listSide);
    JamShellList1->setObjectName(QStringLiteral("JamShellList1"));
    listLayout->addWidget(JamShellList1, 1);
    FilterComboBox1 = new TFilterComboBox(listSide);
    FilterComboBox1->setObjectName(QStringLiteral("FilterComboBox1"));
    FilterComboBox1->setFixedWidth(185);
    FilterComboBox1->setToolTip(QStringLiteral("Here you can select the displayed file types"));
    FilterComboBox1->setFilter(QString::fromLatin1(DocumentFilter));
    listLayout->addWidget(FilterComboBox1, 0, Qt::AlignLeft);

    Splitter1->addWidget(JamShellTree1);
    Splitter1->addWidget(listSide);
    Splitter1->setStretchFactor(0, 0);
    Splitter1->setStretchFactor(1, 1);
    Splitter1->setSizes({209, 1000});

    JamShellLink1 = new TJamShellLink(this);
    JamShellLink1->setObjectName(QStringLiteral("JamShellLink1"));
    JamShellLink1->setShellTree(JamShellTree1);
    JamShellLink1->setShellList(JamShellList1);

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(Splitter1);

    // The components call in from Qt's event handlers, which no exception may leave.
    FilterComboBox1->setOnChange(
        [this](QObject* sender) { platform::runGuarded([&] { FilterComboBox1Change(sender); }); });
    JamShellList1->setOnDblClick(
        [this](QObject* sender) { platform::runGuarded([&] { JamShellList1DblClick(sender); }); });
    JamShellList1->setOnKeyPress([this](QObject* sender, QChar& key) {
        platform::runGuarded([&] { JamShellList1KeyPress(sender, key); });
    });
}

LocalDocumentChooser::~LocalDocumentChooser() = default;

void LocalDocumentChooser::FormCreate(const QString& programDir) {
    JamShellList1->setFilter(FilterComboBox1->Mask());
    JamShellTree1->setSelectedFolder(programDir);
}

void LocalDocumentChooser::FilterComboBox1Change(QObject*) {
    JamShellList1->setFilter(FilterComboBox1->Mask());
}

void LocalDocumentChooser::JamShellList1DblClick(QObject*) {
    if (JamShellList1->SelCount() == 0) return;
    const QModelIndex item = JamShellList1->firstSelected();
    if (JamShellList1->isFolder(item))
        JamShellList1->InvokeDefaultAction();
    else
        openfilenow(JamShellList1->fileName(item));
}

void LocalDocumentChooser::JamShellList1KeyPress(QObject* sender, QChar& key) {
    if (!JamShellList1->isEditingLabel() && key == QChar(13)) {
        // Consumed even when the handler fails, so the key is not acted on a second time.
        key = QChar(0);
        JamShellList1DblClick(sender);
    }
}

void LocalDocumentChooser::openfilenow(const QString& fileName) {
    QString folder = JamShellTree1->SelectedFolder();
    // Without a selected folder there is no path to join the name to.
    if (folder.isEmpty()) return;
    if (!folder.endsWith(u'/')) folder += u'/';
    m_host.navigateBrowserView(folder + fileName);
    m_host.ApplyViewSize();
    m_host.showOpenWebsitePage();
}

} // namespace document
