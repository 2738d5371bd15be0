// The main window: five pages that follow the workflow (open a file or a website, size the
// view, render, save and print), the bottom bar with the web link and the About and Exit
// images, and the status bar with the progress panel.
//
// Every handler of every page is a method of TMainForm, named after its control and event.
// The controls are public members under the names the handlers use; each carries the same
// name as its objectName, so tests and tools can find it.
#pragma once

#include "app/ResultView.h"
#include "document/chooser/LocalDocumentChooser.h"
#include "pixolan/Pixolan.h"
#include "platform/gdi/Gdi.h"

#include <QIcon>
#include <QList>
#include <QString>
#include <QWidget>
#include <cstdint>
#include <memory>

class QLabel;
class QPaintEvent;
class QPushButton;
class QScrollArea;
class QSessionManager;
class QTabWidget;
class QToolButton;
class TFilterComboBox;
class TJamShellLink;
class TJamShellList;
class TJamShellTree;
class TWebBrowser;

namespace document {
class FileNameEdit;
}
namespace platform {
class X11UserMessageFilter;
}
namespace widgets {
class FileDialog;
class ImageControl;
class ImagePair;
class PaintBox;
class Panel;
class ShadowLabel;
class SpinEdit;
class StatusBar;
} // namespace widgets

class TMainForm : public QWidget, public document::LocalDocumentChooserHost {
    Q_OBJECT
  public:
    // The caption of the window; the application's title ("Velmora 1.0") is set in main().
    static constexpr const char* Caption = "Orvent Velmora 1.1";
    static constexpr const char* HomepageAddress = "https://www.orvent.example/";
    static constexpr const char* HomepageCaption = "www.orvent.example";
    static constexpr const char* InitialAddress = "https://www.orvent.example/";
    static constexpr int OuterWidth = 638;
    static constexpr int OuterHeight = 512;

    explicit TMainForm(QWidget* parent = nullptr);
    ~TMainForm() override;

    // --- State ------------------------------------------------------------------------------
    gdi::RECT ProRect{0, 0, 0, 0};
    std::int32_t ProStatus = 0;
    bool PaintBox2Drag = false;
    bool ErgDrag = false;
    bool UeberPressed = false;
    bool EndePressed = false;
    QString ProgramDir; // ends in exactly one '/'
    DibRecord MainDib{};
    std::int32_t PaintBox2DragX = 0;
    std::int32_t PaintBox2DragY = 0;
    std::int32_t ErgDragX = 0;
    std::int32_t ErgDragY = 0;

    // --- Controls ---------------------------------------------------------------------------
    widgets::StatusBar* StatusBar1;
    widgets::Panel* Panel7;
    QToolButton* wwwBtn;
    widgets::Panel* Panel8;
    widgets::ImageControl* ueberBtn2;
    widgets::ImageControl* ueberbtn;
    widgets::ImageControl* EndeBtnDown;
    widgets::ImageControl* EndeBtn;
    QTabWidget* PageControl2;
    QList<QIcon> TabImages;
    QWidget* TabSheet1;
    QWidget* TabSheet2;
    QWidget* TabSheet3;
    QWidget* TabSheet4;
    QWidget* TabSheet5;

    // "Open file"
    document::LocalDocumentChooser* Chooser;
    TJamShellTree* JamShellTree1;
    TJamShellList* JamShellList1;
    TJamShellLink* JamShellLink1;
    TFilterComboBox* FilterComboBox1;

    // "Open website"
    QLabel* Label3;
    document::FileNameEdit* URLEdit;
    QPushButton* OpenBtn;
    QScrollArea* ScrollBox2;
    TWebBrowser* web;

    // "Size"
    QScrollArea* ScrollBox1;
    widgets::PaintBox* PaintBox1;
    widgets::ShadowLabel* WidthLabel;
    widgets::ShadowLabel* HeightLabel;
    widgets::ShadowLabel* IncLabel;
    widgets::SpinEdit* breited;
    widgets::SpinEdit* hoched;
    widgets::SpinEdit* IncEd;

    // "Choose quality"
    QLabel* SizeLabel;
    widgets::SpinEdit* QualEd;
    QLabel* PercentLabel;
    QLabel* PieceLabel;
    widgets::SpinEdit* StuckEd;
    QLabel* PieceNote;
    QPushButton* RenderBtn;
    QScrollArea* ScrollBox3;
    widgets::PaintBox* PaintBox2;

    // "Save and print"
    QPushButton* SaveAsBtn;
    QPushButton* PrintBtn;
    QScrollArea* ErgScrollBox;
    widgets::PaintBox* ErgPaintBox;

    widgets::FileDialog* SaveDialog1;

    // --- The window's own events -----------------------------------------------------------
    void FormCreate();
    void FormShow();
    void FormCloseQuery(bool& CanClose);
    void FormDestroy();

    // --- Bottom bar -------------------------------------------------------------------------
    void wwwBtnClick();
    void EndeBtnClick();
    void EndeBtnMouseDown(Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y);
    void EndeBtnMouseMove(Qt::KeyboardModifiers shift, int x, int y);
    void EndeBtnMouseUp(Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y);
    void ueberbtnClick();
    void ueberBtn2Click();
    void ueberbtnMouseDown(Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y);
    void ueberbtnMouseMove(Qt::KeyboardModifiers shift, int x, int y);
    void ueberbtnMouseUp(Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y);

    // --- Sizes --------------------------------------------------------------------------------
    void IncEdChange();
    void breitedChange();
    void hochedChange();
    // The sizing rule: the view's width from breited, then its height from hoched.
    void ApplyViewSize() override;

    // --- "Open website" and the preview --------------------------------------------------------
    void OpenBtnClick();
    void URLEditBeforeDialog(QString& name, bool& proceed);
    void PaintBox1Paint(QPaintEvent* event);
    void webDocumentComplete(QObject* sender, const QString& frame, const QString& url);

    // --- Progress (drawn by the status bar's owner-drawn panel) --------------------------------
    // A larger value draws the longer bar straight onto the status bar; a smaller one repaints
    // the whole status bar before returning.
    void SetProStatus(std::int32_t percent);
    void StatusBar1DrawPanel(widgets::StatusBar* bar, int panel, const gdi::RECT& rect);
    // WM_USER: wParam is a percentage.
    void WMUser(std::intptr_t wParam);

    // --- "Choose quality": Render --------------------------------------------------------------
    void RenderBtnClick();

    // --- The result views -----------------------------------------------------------------------
    void PaintBox2Paint(QPaintEvent* event);
    void PaintBox2MouseDown(Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y);
    void PaintBox2MouseMove(Qt::KeyboardModifiers shift, int x, int y);
    void PaintBox2MouseUp(Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y);
    void ErgPaintBoxPaint(QPaintEvent* event);
    void ErgPaintBoxMouseDown(Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y);
    void ErgPaintBoxMouseMove(Qt::KeyboardModifiers shift, int x, int y);
    void ErgPaintBoxMouseUp(Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y);

    // --- "Save and print" -----------------------------------------------------------------------
    void SaveAsBtnClick();
    void PrintBtnClick();

    // The directory part of an executable's path, ending in exactly one '/'.
    static QString programDirOf(const QString& executablePath);

    // LocalDocumentChooserHost
    void navigateBrowserView(const QString& documentPath) override;
    void showOpenWebsitePage() override;

  protected:
    bool event(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

  private:
    // Creating and placing the controls, in MainUnitLayout.cpp.
    void buildLayout();
    QWidget* buildPage(const QString& caption, int icon, const QString& header, const QString& sideTitle,
                       const QString& picture, QWidget** sidePicture);
    void buildOpenWebsitePage(QWidget* content);
    void buildSizePage(QWidget* content, QWidget* side);
    void buildQualityPage(QWidget* content);
    void buildSavePage(QWidget* content);
    void buildBottomBar();
    void connectHandlers();
    void commitDataRequest(QSessionManager& manager);

    std::unique_ptr<widgets::ImagePair> m_aboutPair;
    std::unique_ptr<widgets::ImagePair> m_exitPair;
    std::unique_ptr<widgets::FileDialog> m_saveDialog;
    std::unique_ptr<platform::X11UserMessageFilter> m_x11Filter;
    bool m_shownOnce = false;
    app::ResultViewDrag m_paintBox2Drag{PaintBox2Drag, PaintBox2DragX, PaintBox2DragY};
    app::ResultViewDrag m_ergDrag{ErgDrag, ErgDragX, ErgDragY};
};

// The main window while it exists.
extern TMainForm* MainForm;

// Draws the bar for MainForm's ProStatus over its ProRect straight onto the status bar, through
// a window DC, without erasing anything: the longer bar covers the shorter one.
void SBarPaintMore();
