// The main window's layout: every control created, named and placed. The handlers and their
// wiring are in MainUnit.cpp.
#include "app/MainUnit.h"
#include "document/FileNameEdit.h"
#include "document/WebBrowser.h"
#include "platform/widgets/FileDialog.h"
#include "platform/widgets/ImageControl.h"
#include "platform/widgets/PaintBox.h"
#include "platform/widgets/Panel.h"
#include "platform/widgets/SpinEdit.h"
#include "platform/widgets/StatusBar.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QTabBar>
#include <QTabWidget>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>

namespace {

const QColor kHeaderColour(240, 202, 166);
const QColor kSideColour(192, 220, 192);
const QColor kTitleColour(128, 0, 0); // maroon

constexpr int kSidePanelWidth = 209;
constexpr int kHeaderHeight = 33;
constexpr QSize kSideFrame(195, 284);
constexpr QSize kTitleBox(177, 73);
// What the window frame adds around the client area when the frame is not known yet: a
// 4-pixel border and a 19-pixel caption bar.
constexpr QSize kFrameAllowance(8, 27);

QPixmap artwork(const QString& name) {
    return QPixmap(QStringLiteral(":/artwork/") + name);
}

template <class W> W* named(W* widget, const char* name) {
    widget->setObjectName(QString::fromLatin1(name));
    return widget;
}

QLabel* makeLabel(const char* name, const QString& text, QWidget* parent, int x, int y) {
    auto* label = named(new QLabel(text, parent), name);
    label->move(x, y);
    label->adjustSize();
    return label;
}

widgets::SpinEdit* makeSpinEdit(const char* name, QWidget* parent, const QRect& geometry, double minValue,
                                double maxValue, double value, double step,
                                widgets::SpinEdit::ValueType type = widgets::SpinEdit::ValueType::Integer) {
    auto* edit = named(new widgets::SpinEdit(parent), name);
    edit->setValueType(type);
    edit->setRange(minValue, maxValue);
    edit->setIncrement(step);
    edit->setValue(value);
    edit->setGeometry(geometry);
    return edit;
}

QPushButton* makeButton(const char* name, const QString& text, QWidget* parent, const QRect& geometry) {
    auto* button = named(new QPushButton(text, parent), name);
    button->setGeometry(geometry);
    // Enter on a button that has the focus clicks that button.
    button->setAutoDefault(true);
    return button;
}

// The scroll boxes show the workspace colour around and behind what they hold, as an MDI
// workspace does.
QScrollArea* makeScrollBox(const char* name, QWidget* parent, bool contentFills) {
    auto* box = named(new QScrollArea(parent), name);
    box->setBackgroundRole(QPalette::Dark);
    box->setWidgetResizable(contentFills);
    box->setFrameShape(QFrame::StyledPanel);
    return box;
}

} // namespace

void TMainForm::buildLayout() {
    setObjectName(QStringLiteral("MainForm"));
    setWindowTitle(QString::fromLatin1(Caption));
    setWindowIcon(QIcon(artwork(QStringLiteral("velmora.png"))));
    // Where the named face is missing, a face of its width is preferred to fontconfig's default,
    // which is much wider and would not fit the fixed layout.
    QFont font;
    font.setFamilies({QStringLiteral("MS Sans Serif"), QStringLiteral("Microsoft Sans Serif"),
                      QStringLiteral("Liberation Sans"), QStringLiteral("Arial")});
    font.setPixelSize(11);
    setFont(font);
    resize(QSize(OuterWidth, OuterHeight) - kFrameAllowance);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    for (int i = 0; i < 8; ++i)
        TabImages << QIcon(artwork(QStringLiteral("tab%1.png").arg(i)));

    PageControl2 = named(new QTabWidget(this), "PageControl2");
    PageControl2->setIconSize(QSize(16, 16));
    PageControl2->setDocumentMode(false);
    // Tabs light up under the pointer.
    PageControl2->tabBar()->setAttribute(Qt::WA_Hover);
    PageControl2->setStyleSheet(QStringLiteral("QTabBar::tab:hover:!selected { background: #f0caa6; }"));
    layout->addWidget(PageControl2, 1);

    QWidget* sidePicture = nullptr;
    QWidget* content =
        buildPage(QStringLiteral("Open file"), 0,
                  QStringLiteral("Open document - Please select the document you want to open"),
                  QStringLiteral("Open document..."), QStringLiteral("side-openfile.png"), &sidePicture);
    TabSheet1 = named(PageControl2->widget(0), "TabSheet1");
    Chooser = named(new document::LocalDocumentChooser(*this, content), "Chooser");
    content->layout()->addWidget(Chooser);
    JamShellTree1 = Chooser->JamShellTree1;
    JamShellList1 = Chooser->JamShellList1;
    JamShellLink1 = Chooser->JamShellLink1;
    FilterComboBox1 = Chooser->FilterComboBox1;

    content = buildPage(QStringLiteral("Open website"), 5,
                        QStringLiteral("Open website - Enter the location of the website (URL)"),
                        QStringLiteral("Open website..."), QStringLiteral("side-website.png"), &sidePicture);
    TabSheet2 = named(PageControl2->widget(1), "TabSheet2");
    buildOpenWebsitePage(content);

    content = buildPage(QStringLiteral("Size"), 3,
                        QStringLiteral("Change width and height - See the result on the preview"),
                        QStringLiteral("Choose size..."), QStringLiteral("side-size.png"), &sidePicture);
    TabSheet3 = named(PageControl2->widget(2), "TabSheet3");
    buildSizePage(content, sidePicture);

    content =
        buildPage(QStringLiteral("Choose quality"), 7,
                  QStringLiteral(
                      "Select output size and quality - select the size in percent of the original document"),
                  QStringLiteral("Choose quality..."), QStringLiteral("side-quality.png"), &sidePicture);
    TabSheet4 = named(PageControl2->widget(3), "TabSheet4");
    buildQualityPage(content);

    content =
        buildPage(QStringLiteral("Save and print"), 4, QStringLiteral("Ready! - View, save or print picture"),
                  QStringLiteral("Save and print..."), QStringLiteral("side-save.png"), &sidePicture);
    TabSheet5 = named(PageControl2->widget(4), "TabSheet5");
    buildSavePage(content);

    PageControl2->setCurrentIndex(0);

    buildBottomBar();
    layout->addWidget(Panel7);

    StatusBar1 = named(new widgets::StatusBar(this), "StatusBar1");
    StatusBar1->setPanels({{250, false, QString()}, {50, true, QString()}});
    layout->addWidget(StatusBar1);

    m_saveDialog = std::make_unique<widgets::FileDialog>(widgets::FileDialog::Kind::Save);
    m_saveDialog->options = widgets::FileDialog::OverwritePrompt | widgets::FileDialog::HideReadOnly |
                            widgets::FileDialog::EnableSizing;
    SaveDialog1 = m_saveDialog.get();
}

QWidget* TMainForm::buildPage(const QString& caption, int icon, const QString& header,
                              const QString& sideTitle, const QString& picture, QWidget** sidePicture) {
    auto* page = new QWidget;
    auto* pageLayout = new QVBoxLayout(page);
    pageLayout->setContentsMargins(0, 0, 0, 0);
    pageLayout->setSpacing(0);

    auto* headerStrip = new widgets::Panel(page);
    headerStrip->setObjectName(page->objectName() + QStringLiteral("Header"));
    headerStrip->setColor(kHeaderColour);
    headerStrip->setBevels(widgets::Panel::Bevel::Raised, widgets::Panel::Bevel::Lowered);
    headerStrip->setFixedHeight(kHeaderHeight);
    QFont bold = font();
    bold.setBold(true);
    headerStrip->setFont(bold);
    headerStrip->setCaption(header);
    headerStrip->setCaptionAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    pageLayout->addWidget(headerStrip);

    auto* body = new QHBoxLayout;
    body->setContentsMargins(0, 0, 0, 0);
    body->setSpacing(0);
    pageLayout->addLayout(body, 1);

    auto* side = new widgets::Panel(page);
    side->setColor(kSideColour);
    side->setBevels(widgets::Panel::Bevel::Raised, widgets::Panel::Bevel::Lowered);
    side->setFixedWidth(kSidePanelWidth);
    body->addWidget(side);

    // The framed area with the page's picture and, at its top, the title box.
    auto* frame = new QFrame(side);
    frame->setFrameShape(QFrame::Panel);
    frame->setFrameShadow(QFrame::Sunken);
    frame->setLineWidth(1);
    frame->setGeometry(QRect(QPoint((kSidePanelWidth - kSideFrame.width()) / 2, 7), kSideFrame));
    auto* image = new QLabel(frame);
    image->setPixmap(artwork(picture));
    image->setScaledContents(true);
    image->setGeometry(frame->contentsRect());
    *sidePicture = frame;

    auto* titleBox = new widgets::Panel(frame);
    titleBox->setColor(kHeaderColour);
    titleBox->setBevels(widgets::Panel::Bevel::Raised, widgets::Panel::Bevel::Lowered);
    titleBox->setGeometry(QRect(QPoint((kSideFrame.width() - kTitleBox.width()) / 2, 9), kTitleBox));
    auto* title = new QLabel(sideTitle, titleBox);
    QFont titleFont;
    titleFont.setFamilies(
        {QStringLiteral("Arial Black"), QStringLiteral("Liberation Sans"), QStringLiteral("Arial")});
    titleFont.setPixelSize(19);
    titleFont.setWeight(QFont::Black);
    title->setFont(titleFont);
    title->setWordWrap(true);
    title->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    QPalette titlePalette = title->palette();
    titlePalette.setColor(QPalette::WindowText, kTitleColour);
    title->setPalette(titlePalette);
    title->setGeometry(titleBox->rect().adjusted(8, 4, -6, -4));

    auto* content = new QWidget(page);
    auto* contentLayout = new QVBoxLayout(content);
    contentLayout->setContentsMargins(0, 0, 0, 0);
    contentLayout->setSpacing(0);
    body->addWidget(content, 1);

    PageControl2->addTab(page, TabImages.value(icon), caption);
    return content;
}

void TMainForm::buildOpenWebsitePage(QWidget* content) {
    auto* row = new QWidget(content);
    row->setFixedHeight(73);
    Label3 = makeLabel("Label3", QStringLiteral("Website:"), row, 8, 8);
    Label3->setFixedHeight(21);
    Label3->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    URLEdit = named(new document::FileNameEdit(row), "URLEdit");
    // At 56, 8 and 337 wide, unless the face at hand makes the label wider: then the field
    // starts after it and keeps its right end.
    const int urlLeft = std::max(56, Label3->geometry().right() + 1 + 4);
    URLEdit->setGeometry(urlLeft, 8, 56 + 337 - urlLeft, 21);
    URLEdit->setText(QString::fromLatin1(InitialAddress));
    URLEdit->dialog().title = QStringLiteral("Browse");
    URLEdit->dialog().filter = QStringLiteral("All files (*.*)|*.*");
    URLEdit->dialog().options = widgets::FileDialog::HideReadOnly | widgets::FileDialog::EnableSizing;
    OpenBtn = makeButton("OpenBtn", QStringLiteral("Open website..."), row, QRect(8, 36, 129, 25));
    OpenBtn->setIcon(QIcon(artwork(QStringLiteral("ok.png"))));
    OpenBtn->setDefault(true);
    content->layout()->addWidget(row);

    ScrollBox2 = makeScrollBox("ScrollBox2", content, false);
    web = named(new TWebBrowser, "web");
    web->move(0, 0);
    ScrollBox2->setWidget(web);
    content->layout()->addWidget(ScrollBox2);
}

void TMainForm::buildSizePage(QWidget* content, QWidget* side) {
    ScrollBox1 = makeScrollBox("ScrollBox1", content, true);
    PaintBox1 = named(new widgets::PaintBox, "PaintBox1");
    ScrollBox1->setWidget(PaintBox1);
    content->layout()->addWidget(ScrollBox1);

    // Over the side picture, below the title box: the labels in one column, the edits in the
    // next, as wide as the picture leaves room for.
    const int labelX = 14;
    const int rowY[] = {100, 130, 160};
    auto makeShadowLabel = [side, labelX](const char* name, const QString& text, int y) {
        auto* label = named(new widgets::ShadowLabel(text, side), name);
        label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        label->adjustSize();
        label->setGeometry(labelX, y, label->width() + 2, 21);
        return label;
    };
    WidthLabel = makeShadowLabel("WidthLabel", QStringLiteral("Width:"), rowY[0]);
    HeightLabel = makeShadowLabel("HeightLabel", QStringLiteral("Height:"), rowY[1]);
    IncLabel = makeShadowLabel("IncLabel", QStringLiteral("Increment about:"), rowY[2]);
    const int editX =
        std::max(100, labelX + std::max({WidthLabel->width(), HeightLabel->width(), IncLabel->width()}) + 4);
    const int editRight = side->width() - labelX;
    const int editWidth = std::max(60, editRight - editX);
    breited = makeSpinEdit("breited", side, QRect(editX, rowY[0], editWidth, 21), 10, 20000, 800, 100);
    hoched = makeSpinEdit("hoched", side, QRect(editX, rowY[1], editWidth, 21), 10, 20000, 1000, 100);
    IncEd = makeSpinEdit("IncEd", side, QRect(editX, rowY[2], editWidth, 21), 1, 500, 100, 1);
    IncEd->setToolTip(QStringLiteral("Choose about which value the height or width with one click changes"));
}

void TMainForm::buildQualityPage(QWidget* content) {
    auto* strip = new QWidget(content);
    strip->setFixedHeight(65);
    // One row of label, edit, label, edit and button, each placed after the one before, so
    // that the row holds whatever width the labels take in the face at hand.
    auto after = [](QWidget* w, int gap) { return w->geometry().right() + 1 + gap; };
    SizeLabel = makeLabel("SizeLabel", QStringLiteral("Size:"), strip, 8, 8);
    SizeLabel->setFixedHeight(21);
    QualEd = makeSpinEdit("QualEd", strip, QRect(after(SizeLabel, 4), 8, 65, 21), 10, 2000, 100, 10);
    PercentLabel = makeLabel("PercentLabel", QStringLiteral("%"), strip, after(QualEd, 4), 8);
    PercentLabel->setFixedHeight(21);
    PieceLabel = makeLabel("PieceLabel", QStringLiteral("Piece factor"), strip, after(PercentLabel, 16), 8);
    PieceLabel->setFixedHeight(21);
    StuckEd = makeSpinEdit("StuckEd", strip, QRect(after(PieceLabel, 4), 8, 65, 21), 1, 100, 50, 1,
                           widgets::SpinEdit::ValueType::Float);
    PieceNote =
        makeLabel("PieceNote", QStringLiteral("Normaly the piece factor is 50 or 33,33 or 25"), strip, 8, 40);
    RenderBtn =
        makeButton("RenderBtn", QStringLiteral("Render"), strip, QRect(after(StuckEd, 16), 6, 97, 25));
    content->layout()->addWidget(strip);

    ScrollBox3 = makeScrollBox("ScrollBox3", content, false);
    PaintBox2 = named(new widgets::PaintBox, "PaintBox2");
    PaintBox2->resize(393, 233);
    PaintBox2->setCursor(Qt::PointingHandCursor);
    ScrollBox3->setWidget(PaintBox2);
    content->layout()->addWidget(ScrollBox3);
}

void TMainForm::buildSavePage(QWidget* content) {
    auto* strip = new QWidget(content);
    strip->setFixedHeight(49);
    SaveAsBtn = makeButton("SaveAsBtn", QStringLiteral("Save picture as..."), strip, QRect(8, 12, 129, 25));
    PrintBtn = makeButton("PrintBtn", QStringLiteral("Print picture..."), strip, QRect(144, 12, 129, 25));
    content->layout()->addWidget(strip);

    ErgScrollBox = makeScrollBox("ErgScrollBox", content, false);
    ErgPaintBox = named(new widgets::PaintBox, "ErgPaintBox");
    ErgPaintBox->resize(393, 233);
    ErgPaintBox->setCursor(Qt::PointingHandCursor);
    ErgScrollBox->setWidget(ErgPaintBox);
    content->layout()->addWidget(ErgScrollBox);
}

void TMainForm::buildBottomBar() {
    Panel7 = named(new widgets::Panel(this), "Panel7");
    Panel7->setBevels(widgets::Panel::Bevel::None, widgets::Panel::Bevel::None);
    Panel7->setFixedHeight(41);
    auto* bar = new QHBoxLayout(Panel7);
    bar->setContentsMargins(0, 0, 0, 0);
    bar->setSpacing(0);

    auto* left = new QWidget(Panel7);
    left->setFixedWidth(5 + 137);
    wwwBtn = named(new QToolButton(left), "wwwBtn");
    wwwBtn->setGeometry(5, 5, 137, 33);
    wwwBtn->setAutoRaise(true);
    wwwBtn->setIcon(QIcon(artwork(QStringLiteral("www.png"))));
    wwwBtn->setIconSize(QSize(24, 25));
    wwwBtn->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    wwwBtn->setText(QString::fromLatin1(HomepageCaption));
    wwwBtn->setToolTip(QStringLiteral("Go to the Orvent homepage..."));
    bar->addWidget(left);
    bar->addStretch(1);

    Panel8 = named(new widgets::Panel(Panel7), "Panel8");
    Panel8->setBevels(widgets::Panel::Bevel::None, widgets::Panel::Bevel::None);
    Panel8->setFixedWidth(214);
    bar->addWidget(Panel8);

    auto makeImage = [this](const char* name, const QString& picture, int x, const QString& hint) {
        auto* image = named(new widgets::ImageControl(Panel8), name);
        image->setPicture(artwork(picture));
        image->setGeometry(x, 4, 101, 30);
        image->setCursor(Qt::PointingHandCursor);
        image->setToolTip(hint);
        return image;
    };
    const QString aboutHint = QStringLiteral("Information about the program");
    const QString exitHint = QStringLiteral("Hereby you leave the program");
    // The pressed About look lies beneath the normal one, which covers it.
    ueberBtn2 = makeImage("ueberBtn2", QStringLiteral("about-down.png"), 1, aboutHint);
    ueberbtn = makeImage("ueberbtn", QStringLiteral("about.png"), 1, aboutHint);
    EndeBtnDown = makeImage("EndeBtnDown", QStringLiteral("exit-down.png"), 105, exitHint);
    EndeBtnDown->hide();
    EndeBtn = makeImage("EndeBtn", QStringLiteral("exit.png"), 105, exitHint);
    m_aboutPair = std::make_unique<widgets::ImagePair>(ueberbtn, ueberBtn2, &UeberPressed);
    m_exitPair = std::make_unique<widgets::ImagePair>(EndeBtn, EndeBtnDown, &EndePressed);
}
