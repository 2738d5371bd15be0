#include "app/AboutBoxUnit.h"

#include "platform/Shell.h"
#include "platform/widgets/Panel.h"

#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QScreen>

TAboutBox* AboutBox = nullptr;
TAboutBox::Clock TAboutBox::clock = &QDate::currentDate;

static void initAboutResources() {
    Q_INIT_RESOURCE(about);
}

namespace {

QLabel* makeLabel(const QString& name, const QString& text, QWidget* parent, int x, int y) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(name);
    label->move(x, y);
    label->adjustSize();
    return label;
}

QLabel* makeWrappedLabel(const QString& name, const QString& text, QWidget* parent, const QRect& box) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(name);
    label->setWordWrap(true);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label->setGeometry(box);
    return label;
}

} // namespace

TAboutBox::TAboutBox(QWidget* owner) : QDialog(owner) {
    initAboutResources();
    setObjectName(QStringLiteral("AboutBox"));
    setWindowTitle(QStringLiteral("Info"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    setFixedSize(664, 453);
    setSizeGripEnabled(false);
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setPixelSize(11);
    setFont(font);

    Panel1 = new widgets::Panel(this);
    Panel1->setColor(QColor(240, 202, 166));
    Panel1->setBevels(widgets::Panel::Bevel::Raised, widgets::Panel::Bevel::Lowered);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setGeometry(8, 8, 649, 385);

    ProgramIcon = new QLabel(Panel1);
    ProgramIcon->setObjectName(QStringLiteral("ProgramIcon"));
    ProgramIcon->setGeometry(16, 40, 306, 322);
    ProgramIcon->setScaledContents(true);
    ProgramIcon->setPixmap(QPixmap(QStringLiteral(":/about/product.png")));

    ProductName = makeLabel(QStringLiteral("ProductName"), QStringLiteral("Orvent Software"), Panel1, 8, 8);
    QFont nameFont(QStringLiteral("Arial Narrow"));
    nameFont.setBold(true);
    nameFont.setPixelSize(24);
    ProductName->setFont(nameFont);
    QPalette black = ProductName->palette();
    black.setColor(QPalette::WindowText, Qt::black);
    ProductName->setPalette(black);
    ProductName->adjustSize();

    Copyright =
        makeLabel(QStringLiteral("Copyright"),
                  QStringLiteral("Copyright \u00a9 XXXX Orvent. All rights reserved."), Panel1, 336, 40);
    Comments = makeWrappedLabel(
        QStringLiteral("Comments"),
        QStringLiteral("Orvent Software Ltd., 12 Quay Street, Lindmere. Contact: info@orvent.example"),
        Panel1, QRect(336, 56, 257, 33));
    Label1 = makeLabel(QStringLiteral("Label1"), QStringLiteral("Every page, every pixel."), Panel1, 336, 96);
    QFont bold = Label1->font();
    bold.setBold(true);
    Label1->setFont(bold);
    Label1->adjustSize();
    Label2 = makeLabel(QStringLiteral("Label2"),
                       QStringLiteral("Orvent builds exact tools for web and print."), Panel1, 336, 112);
    Label3 =
        makeWrappedLabel(QStringLiteral("Label3"),
                         QStringLiteral("Velmora and our other products turn web pages and documents into "
                                        "pictures of any size. News, updates and more tools are waiting on "
                                        "our website:"),
                         Panel1, QRect(336, 128, 238, 121));

    BitBtnXP1 = new QPushButton(QIcon(QStringLiteral(":/about/globe.png")),
                                QStringLiteral("www.orvent.example"), Panel1);
    BitBtnXP1->setObjectName(QStringLiteral("BitBtnXP1"));
    BitBtnXP1->setGeometry(336, 240, 169, 25);
    BitBtnXP1->setCursor(Qt::PointingHandCursor);
    connect(BitBtnXP1, &QPushButton::clicked, this, [this] { BitBtnXP1Click(BitBtnXP1); });

    BitBtn1 = new QPushButton(QIcon(QStringLiteral(":/about/ok.png")), QStringLiteral("OK"), this);
    BitBtn1->setObjectName(QStringLiteral("BitBtn1"));
    BitBtn1->setGeometry(241, 404, 181, 37);
    BitBtn1->setDefault(true);
    BitBtn1->setFocus();
    connect(BitBtn1, &QPushButton::clicked, this, &QDialog::accept);

    FormCreate(this);
}

TAboutBox::~TAboutBox() {
    if (AboutBox == this) AboutBox = nullptr;
}

void TAboutBox::FormCreate(QObject*) {
    QString caption = Copyright->text();
    const qsizetype at = caption.indexOf(QLatin1String("XXXX"));
    if (at >= 0) {
        caption.replace(at, 4, QString::number(clock().year()));
        Copyright->setText(caption);
        Copyright->adjustSize();
    }
}

void TAboutBox::BitBtnXP1Click(QObject*) {
    platform::ShellExecuteA(this, "open", WebsiteAddress, nullptr, nullptr, platform::SW_SHOW);
}

void TAboutBox::keyPressEvent(QKeyEvent* event) {
    // The dialog is left through OK or the close box only; Escape does nothing here.
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void TAboutBox::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (m_centred) return;
    m_centred = true;
    if (const QScreen* where = screen()) {
        QRect frame = frameGeometry();
        frame.moveCenter(where->availableGeometry().center());
        move(frame.topLeft());
    }
}
