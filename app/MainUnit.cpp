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
#include "platform/gdi/GdiOwners.h"
#include "platform/gdi/GdiQt.h"
#include "platform/widgets/FileDialog.h"
#include "platform/widgets/ImageControl.h"
#include "platform/widgets/PaintBox.h"
#include "platform/widgets/SpinEdit.h"
#include "platform/widgets/StatusBar.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QPrinter>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QSessionManager>
#include <QTabWidget>
#include <QToolButton>
#include <algorithm>
#include <cmath>
#include <cstring>

TMainForm* MainForm = nullptr;

static void initArtworkResources() {
    Q_INIT_RESOURCE(artwork);
}

namespace {

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
    std::string drawFailure() const override {
        const QString why = m_form.web->view()->lastDrawError();
        if (why.isEmpty()) return capture::RenderHost::drawFailure();
        // The view's words start with a capital; here they follow a colon.
        return (why.left(1).toLower() + why.mid(1)).toStdString();
    }
    gdi::HDC acquireReadDC() override {
        m_readDC = gdi::WindowDcOwner(gdi::WindowFromWidget(&m_form));
        return m_readDC.get();
    }
    void releaseReadDC(gdi::HDC) override { m_readDC.reset(); }
    void setProStatus(int percent) override { m_form.SetProStatus(percent); }
    void showError(const char* text) override {
        platform::ApplicationMessageBox(QString::fromUtf8(text), QStringLiteral("Error"),
                                        platform::MB_ICONSTOP | platform::MB_OK);
    }

  private:
    TMainForm& m_form;
    gdi::WindowDcOwner m_readDC;
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
    // A preview left undrawn because the page was slow is drawn once the page answers.
    connect(web, &TWebBrowser::PageAnswersAgain, PaintBox1, qOverload<>(&QWidget::update));

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
    // ReleaseDC shows the bar at once, while a capture holds the event loop.
    const gdi::WindowDcOwner dc(gdi::WindowFromWidget(MainForm->StatusBar1));
    if (!dc) return;
    app::drawProgressBar(dc.get(), MainForm->ProRect, MainForm->ProStatus);
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
    // The piece factor is read as the page offers it, but it does not move the pieces: each
    // piece is drawn at its own place in the picture, which alone makes the picture seamless.
    [[maybe_unused]] const double pieceFactor = StuckEd->Value();
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
    m_paintBox2Drag.press(x, y);
}

void TMainForm::PaintBox2MouseMove(Qt::KeyboardModifiers, int x, int y) {
    m_paintBox2Drag.move(ScrollBox3, x, y);
}

void TMainForm::PaintBox2MouseUp(Qt::MouseButton, Qt::KeyboardModifiers, int, int) {
    m_paintBox2Drag.release();
}

void TMainForm::ErgPaintBoxPaint(QPaintEvent* event) {
    app::paintResultView(ErgPaintBox, event, MainDib);
}

void TMainForm::ErgPaintBoxMouseDown(Qt::MouseButton, Qt::KeyboardModifiers, int x, int y) {
    m_ergDrag.press(x, y);
}

void TMainForm::ErgPaintBoxMouseMove(Qt::KeyboardModifiers, int x, int y) {
    m_ergDrag.move(ErgScrollBox, x, y);
}

void TMainForm::ErgPaintBoxMouseUp(Qt::MouseButton, Qt::KeyboardModifiers, int, int) {
    m_ergDrag.release();
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
