#include "app/MainUnit.h"

#include "app/AboutBoxUnit.h"
#include "app/PrintPicture.h"
#include "app/ProgressIndicator.h"
#include "app/ResultView.h"
#include "capture/PictureWriter.h"
#include "capture/Render.h"
#include "document/AddressRule.h"
#include "document/FileNameEdit.h"
#include "document/ViewSize.h"
#include "document/WebBrowser.h"
#include "platform/AppEvents.h"
#include "platform/Help.h"
#include "platform/MessageBox.h"
#include "platform/Shell.h"
#include "platform/gdi/GdiQt.h"
#include "platform/widgets/FileDialog.h"
#include "platform/widgets/ImageControl.h"
#include "platform/widgets/PaintBox.h"
#include "platform/widgets/Panel.h"
#include "platform/widgets/SpinEdit.h"
#include "platform/widgets/StatusBar.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPrinter>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QSessionManager>
#include <QTabBar>
#include <QTabWidget>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <cstring>

TMainForm* MainForm = nullptr;

static void initArtworkResources() {
    Q_INIT_RESOURCE(artwork);
}

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

gdi::RECT toRECT(const QRect& r) {
    return {r.left(), r.top(), r.right() + 1, r.bottom() + 1};
}

// Render's surroundings in the window: the browser view draws the pieces, GetDIBits reads
// through the main window's DC, progress goes to the status bar and Render's messages to the
// application's message box.
class WindowRenderHost : public capture::RenderHost {
  public:
    explicit WindowRenderHost(TMainForm& form) : m_form(form) {}

    bool drawView(gdi::HDC dc, const gdi::RECT& bounds) override {
        return OleDraw(m_form.web, DVASPECT_CONTENT, dc, &bounds) == browser::S_OK;
    }
    gdi::HDC acquireReadDC() override { return gdi::GetDC(gdi::WindowFromWidget(&m_form)); }
    void releaseReadDC(gdi::HDC dc) override { gdi::ReleaseDC(gdi::WindowFromWidget(&m_form), dc); }
    void setProStatus(int percent) override { m_form.SetProStatus(percent); }
    void showError(const char* text) override {
        platform::ApplicationMessageBox(QString::fromUtf8(text), QStringLiteral("Error"),
                                        platform::MB_ICONSTOP | platform::MB_OK);
    }

  private:
    TMainForm& m_form;
};

// An edit's value as a whole number for Render, truncated toward zero. Values typed far beyond
// the range are kept within a bound that no view size can overflow in 64 bits when multiplied;
// the result is the same refusal as with the value itself.
long long wholeValue(double value) {
    constexpr double bound = 1e12;
    if (!(value == value)) return 0; // not a number
    return (long long)std::trunc(std::clamp(value, -bound, bound));
}

// Shows the wait cursor while a long save or print holds the window.
struct WaitCursor {
    WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { QApplication::restoreOverrideCursor(); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;
};

void showErrorBox(const QString& text) {
    platform::ApplicationMessageBox(text, QStringLiteral("Error"), platform::MB_ICONSTOP | platform::MB_OK);
}

} // namespace

TMainForm::TMainForm(QWidget* parent) : QWidget(parent) {
    initArtworkResources();
    MainForm = this;
    platform::SetApplicationMainWindow(this);
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

    buildLayout();
    connectHandlers();

    if (QGuiApplication::platformName() == QLatin1String("xcb")) {
        m_x11Filter = std::make_unique<platform::X11UserMessageFilter>(this);
        QCoreApplication::instance()->installNativeEventFilter(m_x11Filter.get());
    }
    connect(qApp, &QGuiApplication::commitDataRequest, this, &TMainForm::commitDataRequest,
            Qt::DirectConnection);

    FormCreate();
}

TMainForm::~TMainForm() {
    FormDestroy();
    if (m_x11Filter) QCoreApplication::instance()->removeNativeEventFilter(m_x11Filter.get());
    if (platform::ApplicationMainWindow() == this) platform::SetApplicationMainWindow(nullptr);
    if (MainForm == this) MainForm = nullptr;
}

// --- Layout ------------------------------------------------------------------------------------

void TMainForm::buildLayout() {
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

void TMainForm::connectHandlers() {
    using platform::guarded;
    connect(wwwBtn, &QToolButton::clicked, this, guarded(this, &TMainForm::wwwBtnClick));

    connect(EndeBtn, &widgets::ImageControl::mouseDown, this, guarded(this, &TMainForm::EndeBtnMouseDown));
    connect(EndeBtn, &widgets::ImageControl::mouseMove, this, guarded(this, &TMainForm::EndeBtnMouseMove));
    connect(EndeBtn, &widgets::ImageControl::mouseUp, this, guarded(this, &TMainForm::EndeBtnMouseUp));
    connect(EndeBtn, &widgets::ImageControl::clicked, this, guarded(this, &TMainForm::EndeBtnClick));
    connect(EndeBtnDown, &widgets::ImageControl::clicked, this, guarded(this, &TMainForm::EndeBtnClick));
    connect(ueberbtn, &widgets::ImageControl::mouseDown, this, guarded(this, &TMainForm::ueberbtnMouseDown));
    connect(ueberbtn, &widgets::ImageControl::mouseMove, this, guarded(this, &TMainForm::ueberbtnMouseMove));
    connect(ueberbtn, &widgets::ImageControl::mouseUp, this, guarded(this, &TMainForm::ueberbtnMouseUp));
    connect(ueberbtn, &widgets::ImageControl::clicked, this, guarded(this, &TMainForm::ueberbtnClick));
    connect(ueberBtn2, &widgets::ImageControl::clicked, this, guarded(this, &TMainForm::ueberBtn2Click));

    connect(IncEd, &widgets::SpinEdit::changed, this, guarded(this, &TMainForm::IncEdChange));
    connect(breited, &widgets::SpinEdit::changed, this, guarded(this, &TMainForm::breitedChange));
    connect(QualEd, &widgets::SpinEdit::changed, this, guarded(this, &TMainForm::breitedChange));
    connect(hoched, &widgets::SpinEdit::changed, this, guarded(this, &TMainForm::hochedChange));

    connect(OpenBtn, &QPushButton::clicked, this, guarded(this, &TMainForm::OpenBtnClick));
    URLEdit->setOnBeforeDialog([this](QString& name, bool& proceed) { URLEditBeforeDialog(name, proceed); });
    PaintBox1->onPaint = [this](widgets::PaintBox*, QPaintEvent* event) { PaintBox1Paint(event); };
    connect(web, &TWebBrowser::OnDocumentComplete, this, guarded(this, &TMainForm::webDocumentComplete));

    StatusBar1->onDrawPanel = [this](widgets::StatusBar* bar, int panel, const QRect& rect) {
        StatusBar1DrawPanel(bar, panel, toRECT(rect));
    };

    connect(RenderBtn, &QPushButton::clicked, this, guarded(this, &TMainForm::RenderBtnClick));

    PaintBox2->onPaint = [this](widgets::PaintBox*, QPaintEvent* event) { PaintBox2Paint(event); };
    PaintBox2->onMouseDown = guarded(this, &TMainForm::PaintBox2MouseDown);
    PaintBox2->onMouseMove = guarded(this, &TMainForm::PaintBox2MouseMove);
    PaintBox2->onMouseUp = guarded(this, &TMainForm::PaintBox2MouseUp);
    ErgPaintBox->onPaint = [this](widgets::PaintBox*, QPaintEvent* event) { ErgPaintBoxPaint(event); };
    ErgPaintBox->onMouseDown = guarded(this, &TMainForm::ErgPaintBoxMouseDown);
    ErgPaintBox->onMouseMove = guarded(this, &TMainForm::ErgPaintBoxMouseMove);
    ErgPaintBox->onMouseUp = guarded(this, &TMainForm::ErgPaintBoxMouseUp);

    connect(SaveAsBtn, &QPushButton::clicked, this, guarded(this, &TMainForm::SaveAsBtnClick));
    connect(PrintBtn, &QPushButton::clicked, this, guarded(this, &TMainForm::PrintBtnClick));
}

// --- The window's own events ------------------------------------------------------------------

QString TMainForm::programDirOf(const QString& executablePath) {
    QString dir = executablePath.left(executablePath.lastIndexOf(QLatin1Char('/')) + 1);
    if (!dir.endsWith(QLatin1Char('/'))) dir += QLatin1Char('/');
    return dir;
}

void TMainForm::FormCreate() {
    ProgramDir = programDirOf(QCoreApplication::applicationFilePath());
    // No help file is named, so the help path is the folder itself.
    platform::SetApplicationHelpFile(ProgramDir);
    Chooser->FormCreate(ProgramDir);
    SaveDialog1->initialDir = ProgramDir;

    newdib(&MainDib, 320, 200, 24, nullptr, 0);
    if (MainDib.bits) std::memset(MainDib.bits, 255, MainDib.info->bmiHeader.biSizeImage);
}

void TMainForm::FormShow() {
    ApplyViewSize();
}

void TMainForm::FormCloseQuery(bool& CanClose) {
    CanClose = platform::ApplicationMessageBox(
                   QStringLiteral("Hereby you quit the program! All data not saved will be lost!"),
                   QStringLiteral("Quit program"),
                   platform::MB_OKCANCEL | platform::MB_ICONINFORMATION) == platform::IDOK;
}

void TMainForm::FormDestroy() {
    deldib(MainDib);
    MainDib = DibRecord{};
    platform::WinHelp(this, platform::ApplicationHelpFile(), platform::HELP_QUIT, 0);
}

void TMainForm::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (event->spontaneous()) return;
    if (!m_shownOnce) {
        m_shownOnce = true;
        if (QScreen* screen = this->screen()) {
            const QRect area = screen->availableGeometry();
            QRect outer(QPoint(0, 0), QSize(OuterWidth, OuterHeight));
            outer.moveCenter(area.center());
            move(outer.topLeft());
        }
    }
    platform::runGuarded([this] { FormShow(); });
}

void TMainForm::closeEvent(QCloseEvent* event) {
    bool canClose = true;
    platform::runGuarded([&] { FormCloseQuery(canClose); });
    if (canClose)
        event->accept();
    else
        event->ignore();
}

void TMainForm::commitDataRequest(QSessionManager& manager) {
    // Logging out asks as closing does, when the session lets us ask; Cancel stops the logout.
    if (!manager.allowsInteraction()) return;
    bool canClose = true;
    platform::runGuarded([&] { FormCloseQuery(canClose); });
    manager.release();
    if (!canClose) manager.cancel();
}

bool TMainForm::event(QEvent* event) {
    if (event->type() == platform::UserMessageEvent::type()) {
        auto* message = static_cast<platform::UserMessageEvent*>(event);
        if (message->message() == platform::WM_USER) platform::runGuarded([&] { WMUser(message->wParam()); });
        return true;
    }
    return QWidget::event(event);
}

void TMainForm::keyPressEvent(QKeyEvent* event) {
    // "Open website..." is the window's default button: Enter without Shift, Ctrl or Alt acts
    // on it while it can take the focus, unless another button has the focus.
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    const bool plain = !(event->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier));
    if (enter && plain && OpenBtn->isVisible() && OpenBtn->isEnabled()) {
        auto* focused = qobject_cast<QAbstractButton*>(QApplication::focusWidget());
        if (!focused || focused == OpenBtn) {
            OpenBtn->click();
            event->accept();
            return;
        }
    }
    QWidget::keyPressEvent(event);
}

// --- Bottom bar ----------------------------------------------------------------------------------

void TMainForm::wwwBtnClick() {
    platform::ShellExecuteA(this, "open", HomepageAddress, "", "", platform::SW_SHOW);
}

void TMainForm::EndeBtnClick() {
    m_exitPair->reset();
    close();
}

void TMainForm::EndeBtnMouseDown(Qt::MouseButton, Qt::KeyboardModifiers, int, int) {
    m_exitPair->down();
}

void TMainForm::EndeBtnMouseMove(Qt::KeyboardModifiers, int x, int y) {
    m_exitPair->move(x, y);
}

void TMainForm::EndeBtnMouseUp(Qt::MouseButton, Qt::KeyboardModifiers, int, int) {
    m_exitPair->up();
}

void TMainForm::ueberbtnClick() {
    std::unique_ptr<TAboutBox> box(new TAboutBox(this));
    AboutBox = box.get();
    m_aboutPair->reset();
    box->exec();
}

void TMainForm::ueberBtn2Click() {
    ueberbtnClick();
}

void TMainForm::ueberbtnMouseDown(Qt::MouseButton, Qt::KeyboardModifiers, int, int) {
    m_aboutPair->down();
}

void TMainForm::ueberbtnMouseMove(Qt::KeyboardModifiers, int x, int y) {
    m_aboutPair->move(x, y);
}

void TMainForm::ueberbtnMouseUp(Qt::MouseButton, Qt::KeyboardModifiers, int, int) {
    m_aboutPair->up();
}

// --- Sizes ---------------------------------------------------------------------------------------

void TMainForm::IncEdChange() {
    const double step = std::trunc(IncEd->Value());
    breited->setIncrement(step);
    hoched->setIncrement(step);
}

void TMainForm::ApplyViewSize() {
    document::applyViewSize(*web, breited->Value(), hoched->Value());
}

void TMainForm::breitedChange() {
    document::applyViewWidth(*web, breited->Value());
    PaintBox1->repaint();
}

void TMainForm::hochedChange() {
    document::applyViewHeight(*web, hoched->Value());
    PaintBox1->repaint();
}

// --- "Open website" and the preview --------------------------------------------------------------

void TMainForm::OpenBtnClick() {
    web->Navigate(document::addressToOpen(URLEdit->text()));
    ApplyViewSize();
    PaintBox1->repaint();
}

void TMainForm::URLEditBeforeDialog(QString& name, bool&) {
    // The dialog opens where the last chosen file was, not where the typed text points.
    name.clear();
}

void TMainForm::PaintBox1Paint(QPaintEvent* event) {
    const gdi::RECT bounds =
        document::previewRect(PaintBox1->width(), PaintBox1->height(), web->viewWidth(), web->viewHeight());
    if (bounds.right <= 0 || bounds.bottom <= 0) return;
    // Only the part of the preview that this paint covers is fetched from the view.
    const QRect area = event->rect() & QRect(0, 0, bounds.right, bounds.bottom);
    if (area.isEmpty()) return;
    gdi::PaintDC dc(PaintBox1, area);
    OleDraw(web, DVASPECT_CONTENT, dc.dc(), &bounds);
}

void TMainForm::webDocumentComplete(QObject*, const QString&, const QString&) {
    PaintBox1->repaint();
}

// --- Progress ------------------------------------------------------------------------------------

void TMainForm::SetProStatus(std::int32_t percent) {
    if (percent < ProStatus) {
        ProStatus = percent;
        // The repaint erases the longer bar and draws the shorter one before this returns.
        StatusBar1->repaint();
    } else {
        ProStatus = percent;
        SBarPaintMore();
    }
}

void TMainForm::StatusBar1DrawPanel(widgets::StatusBar* bar, int, const gdi::RECT& rect) {
    {
        gdi::PaintDC dc(bar, QRect(rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top));
        app::drawProgressBar(dc.dc(), rect, ProStatus);
    }
    // Kept for the bars drawn between paints: after a resize they go where the panel now is.
    ProRect = rect;
}

void SBarPaintMore() {
    if (!MainForm) return;
    const gdi::HWND window = gdi::WindowFromWidget(MainForm->StatusBar1);
    const gdi::HDC dc = gdi::GetDC(window);
    if (!dc) return;
    app::drawProgressBar(dc, MainForm->ProRect, MainForm->ProStatus);
    gdi::ReleaseDC(window, dc);
}

void TMainForm::WMUser(std::intptr_t wParam) {
    SetProStatus(std::int32_t(wParam));
}

// --- "Choose quality": Render ---------------------------------------------------------------------

void TMainForm::RenderBtnClick() {
    capture::RenderSettings settings;
    settings.viewWidth = web->viewWidth();
    settings.viewHeight = web->viewHeight();
    settings.quality = wholeValue(QualEd->Value());
    settings.pieceFactor = StuckEd->Value();
    WindowRenderHost host(*this);
    // A view that cannot draw throws; the general error handler shows why.
    if (capture::Render(settings, host, &MainDib) != capture::RenderOutcome::Done) return;
    PaintBox2->repaint();
    // The other view shows the new picture when its page is next shown.
    ErgPaintBox->update();
}

// --- The result views -------------------------------------------------------------------------------

void TMainForm::PaintBox2Paint(QPaintEvent* event) {
    app::paintResultView(PaintBox2, event, MainDib);
}

void TMainForm::PaintBox2MouseDown(Qt::MouseButton, Qt::KeyboardModifiers, int x, int y) {
    PaintBox2Drag = true;
    PaintBox2DragX = x;
    PaintBox2DragY = y;
}

void TMainForm::PaintBox2MouseMove(Qt::KeyboardModifiers, int x, int y) {
    if (!PaintBox2Drag) return;
    app::dragScroll(ScrollBox3, PaintBox2DragX, PaintBox2DragY, x, y);
}

void TMainForm::PaintBox2MouseUp(Qt::MouseButton, Qt::KeyboardModifiers, int, int) {
    PaintBox2Drag = false;
}

void TMainForm::ErgPaintBoxPaint(QPaintEvent* event) {
    app::paintResultView(ErgPaintBox, event, MainDib);
}

void TMainForm::ErgPaintBoxMouseDown(Qt::MouseButton, Qt::KeyboardModifiers, int x, int y) {
    ErgDrag = true;
    ErgDragX = x;
    ErgDragY = y;
}

void TMainForm::ErgPaintBoxMouseMove(Qt::KeyboardModifiers, int x, int y) {
    if (!ErgDrag) return;
    app::dragScroll(ErgScrollBox, ErgDragX, ErgDragY, x, y);
}

void TMainForm::ErgPaintBoxMouseUp(Qt::MouseButton, Qt::KeyboardModifiers, int, int) {
    ErgDrag = false;
}

// --- "Save and print" -----------------------------------------------------------------------------

void TMainForm::SaveAsBtnClick() {
    if (!SaveDialog1->Execute(this)) return;
    const QString name = SaveDialog1->fileName;
    QString error;
    bool saved = false;
    {
        WaitCursor wait;
        saved = capture::WritePicture(MainDib, name, capture::formatForFileName(name), &error);
    }
    if (!saved) showErrorBox(error);
}

void TMainForm::PrintBtnClick() {
    QPrinter printer(QPrinter::HighResolution);
    if (!app::ExecutePrintDialog(printer, this)) return;
    QString error;
    bool printed = false;
    {
        WaitCursor wait;
        printed = app::PrintPicture(MainDib, printer, &error);
    }
    if (!printed) showErrorBox(error);
}

// --- LocalDocumentChooserHost ------------------------------------------------------------------

void TMainForm::navigateBrowserView(const QString& documentPath) {
    web->Navigate(documentPath);
}

void TMainForm::showOpenWebsitePage() {
    PageControl2->setCurrentWidget(TabSheet2);
}
