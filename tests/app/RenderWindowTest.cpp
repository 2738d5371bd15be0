// Render from the window: a real page in the real engine captured into MainDib, the bar moving
// while the event loop is held, the picture shown in the quality page's view, and each failure
// shown in the window's message box with everything the run made given back.
#include "document/FileNameEdit.h"
#include "document/WebBrowser.h"
#include "pixolan/DibAllocation.h"
#include "platform/browser/BrowserView.h"
#include "platform/browser/Pixels.h"
#include "platform/gdi/GdiQt.h"
#include "platform/gdi/GdiTesting.h"
#include "platform/widgets/PaintBox.h"
#include "platform/widgets/SpinEdit.h"
#include "platform/widgets/StatusBar.h"
#include "tests/app/WindowTestSupport.h"

#include <QElapsedTimer>
#include <QPushButton>
#include <QScrollArea>
#include <csignal>
#include <sys/wait.h>
#include <vector>

using namespace windowtest;
using platform::MB_ICONSTOP;
using platform::MB_OK;

namespace {

constexpr std::uint32_t kRed = 0xFF0000, kGreen = 0x00FF00, kBlue = 0x0000FF, kWhite = 0xFFFFFF,
                        kGrey = 0x808080;

// Laid out for an 800 x 1000 view: blocks in three corners of the pieces, and a grey bar across
// and a grey column down the page that every piece boundary crosses at 100 % and 150 %.
const QByteArray kPage = R"(<!DOCTYPE html><html><head><style>
html, body { margin: 0; background: #fff; overflow: hidden; }
div { position: absolute; }
</style></head><body>
<div style="left:0; top:0; width:100px; height:100px; background:#f00"></div>
<div style="left:560px; top:560px; width:100px; height:100px; background:#0f0"></div>
<div style="left:700px; top:900px; width:100px; height:100px; background:#00f"></div>
<div style="left:0; top:300px; width:800px; height:60px; background:#808080"></div>
<div style="left:300px; top:0; width:60px; height:1000px; background:#808080"></div>
</body></html>)";

// The page's colour at output pixel (x, y) of a picture at q percent, away from edges.
struct Spot {
    int x, y; // in view pixels
    std::uint32_t colour;
};
const Spot kSpots[] = {
    {50, 50, kRed},    {5, 95, kRed},      {610, 610, kGreen}, {565, 655, kGreen}, {750, 950, kBlue},
    {795, 995, kBlue}, {150, 150, kWhite}, {700, 700, kWhite}, {450, 800, kWhite}, {5, 330, kGrey},
    {795, 330, kGrey}, {330, 5, kGrey},    {330, 995, kGrey},
};

std::uint32_t pictureAt(const DibRecord& dib, int x, int y) {
    return getpixel(dib, x, dib.info->bmiHeader.biHeight - 1 - y);
}

bool near(std::uint32_t a, std::uint32_t b, int tolerance = 3) {
    for (int shift : {0, 8, 16})
        if (std::abs(int((a >> shift) & 0xFF) - int((b >> shift) & 0xFF)) > tolerance) return false;
    return true;
}

// The percentages the status bar showed at its paints, repeats left out.
class ProgressLog : public QObject {
  public:
    ProgressLog(TMainForm* form) : m_form(form) {
        gdi::WindowFromWidget(form->StatusBar1);
        form->StatusBar1->installEventFilter(this);
    }
    std::vector<int> shown;

  protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint && (shown.empty() || shown.back() != m_form->ProStatus))
            shown.push_back(m_form->ProStatus);
        return false;
    }

  private:
    TMainForm* m_form;
};

struct Baseline {
    gdi::testing::ObjectCounts gdiObjects = gdi::testing::LiveObjects();
    std::size_t dibs = pixolan::liveDibCount();
    void expectNothingLeft() const {
        const auto now = gdi::testing::LiveObjects();
        EXPECT_EQ(now.dcs, gdiObjects.dcs);
        EXPECT_EQ(now.bitmaps, gdiObjects.bitmaps);
        EXPECT_EQ(now.brushes, gdiObjects.brushes);
        EXPECT_EQ(now.pens, gdiObjects.pens);
        EXPECT_EQ(pixolan::liveDibCount(), dibs);
    }
};

bool allWhite(const DibRecord& dib) {
    for (gdi::DWORD i = 0; i < dib.info->bmiHeader.biSizeImage; ++i)
        if (dib.bits[i] != 255) return false;
    return true;
}

class RenderWindowTest : public WindowTest {
  protected:
    QTemporaryDir dir;

    void load(const QByteArray& html) {
        ASSERT_TRUE(dir.isValid());
        const QString path = dir.filePath(QStringLiteral("page.html"));
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(html);
        file.close();
        bool complete = false;
        QObject::connect(form->web, &TWebBrowser::OnDocumentComplete, form.get(),
                         [&](QObject*, const QString& frame, const QString&) {
                             if (frame == form->web->view()->mainFrameId()) complete = true;
                         });
        form->URLEdit->setText(path);
        form->OpenBtn->click();
        ASSERT_TRUE(boxes.calls().empty());
        ASSERT_TRUE(waitFor([&] { return complete; }));
    }
};

} // namespace

TEST_F(RenderWindowTest, RenderCapturesThePageIntoThePictureAndShowsIt) {
    load(kPage);
    showPage(form->TabSheet4);
    struct Row {
        int quality;
        std::vector<int> progress;
    } const rows[] = {{100, {50, 100, 0}}, {150, {33, 66, 100, 0}}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.quality);
        form->QualEd->setText(QString::number(row.quality));
        const DibRecord before = form->MainDib;
        const std::size_t dibs = pixolan::liveDibCount();
        ProgressLog progress(form.get());
        form->RenderBtn->click();
        ASSERT_TRUE(boxes.calls().empty()) << boxes.calls()[0].text.toStdString();

        const DibRecord& picture = form->MainDib;
        ASSERT_NE(picture.bits, before.bits);
        EXPECT_FALSE(pixolan::isLive(before)) << "the previous picture is freed";
        EXPECT_EQ(pixolan::liveDibCount(), dibs);
        const int W = 800 * row.quality / 100, H = 1000 * row.quality / 100;
        ASSERT_EQ(picture.info->bmiHeader.biWidth, W);
        ASSERT_EQ(picture.info->bmiHeader.biHeight, H);
        for (const Spot& s : kSpots) {
            const int x = s.x * row.quality / 100, y = s.y * row.quality / 100;
            EXPECT_TRUE(near(pictureAt(picture, x, y), s.colour))
                << x << "," << y << ": " << std::hex << pictureAt(picture, x, y);
        }
        // Down the grey column and along the grey bar, across every piece boundary.
        const int colX = 330 * row.quality / 100, barY = 330 * row.quality / 100;
        for (int y = 0; y < H; ++y)
            ASSERT_TRUE(near(pictureAt(picture, colX, y), kGrey)) << "column, row " << y;
        for (int x = 0; x < W; ++x)
            ASSERT_TRUE(near(pictureAt(picture, x, barY), kGrey)) << "bar, column " << x;

        EXPECT_EQ(progress.shown, row.progress) << "the bar moved while the run held the event loop";
        EXPECT_EQ(form->ProStatus, 0);

        // The quality page's view takes the new size and shows the picture.
        ASSERT_TRUE(waitFor([&] { return form->PaintBox2->size() == QSize(W, H); }, 5000));
        QCoreApplication::processEvents();
        const QImage shown = onScreen(form->ScrollBox3->viewport());
        EXPECT_TRUE(near(rgbOf(shown.pixel(50 * row.quality / 100, 50 * row.quality / 100)), kRed));
        EXPECT_TRUE(near(rgbOf(shown.pixel(150, 150)), pictureAt(picture, 150, 150)));
    }
    // The other view shows it when its page comes up.
    showPage(form->TabSheet5);
    ASSERT_TRUE(waitFor([&] { return form->ErgPaintBox->size() == QSize(1200, 1500); }, 5000));
}

// Render at 100 % puts together exactly the picture the engine makes of the view in one
// screenshot: with captures as the program sizes them, and with captures made ahead of only
// 250 rows, so that strips begin in one capture and end in the next.
TEST_F(RenderWindowTest, PictureEqualsTheEnginesOwnSingleScreenshot) {
    // A colour of its own for every pixel (a one-pixel shift anywhere changes it), under text.
    QByteArray html =
        "<!doctype html><html><body style='margin:0;font:15px serif'>"
        "<canvas id=c width=800 height=1000 style='position:absolute;left:0;top:0'></canvas><script>"
        "const c = document.getElementById('c').getContext('2d');"
        "const d = c.createImageData(800, 1000);"
        "for (let y = 0; y < 1000; ++y) for (let x = 0; x < 800; ++x) {"
        "  const i = 4 * (y * 800 + x);"
        "  d.data[i] = x & 255; d.data[i + 1] = y & 255; d.data[i + 2] = (x >> 8) * 64 + (y >> 8) * 16;"
        "  d.data[i + 3] = 255; }"
        "c.putImageData(d, 0, 0);</script>";
    for (int i = 0; i < 48; ++i)
        html += "<p style='position:relative;margin:0;height:21px'>Line " + QByteArray::number(i) +
                ": <b>the quick brown fox</b> jumps over <i>the lazy dog</i> &mdash; 0123456789</p>";
    html += "</body></html>";
    load(html);
    form->QualEd->setText(QStringLiteral("100"));
    for (const std::int64_t ahead : {std::int64_t(0), std::int64_t(800 * 250)}) {
        SCOPED_TRACE(ahead);
        browser::engine::setAheadCapturePixels(ahead);
        QCoreApplication::processEvents(); // a new turn of the event loop: nothing may come from the last run
        const std::uint64_t shots = browser::engine::screenshotCount();
        form->RenderBtn->click();
        const std::uint64_t captures = browser::engine::screenshotCount() - shots;
        browser::engine::setAheadCapturePixels(0);
        EXPECT_GE(captures, ahead ? 3u : 1u);
        ASSERT_TRUE(boxes.calls().empty()) << boxes.calls()[0].text.toStdString();
        const QByteArray base64 = browser::engine::rawPageCall(
            form->web->view(), QStringLiteral("Page.captureScreenshot"),
            R"({"format":"png","clip":{"x":0,"y":0,"width":800,"height":1000,"scale":1}})");
        std::vector<std::uint8_t> png;
        browser::Picture24 reference;
        ASSERT_TRUE(browser::decodeBase64(base64.toStdString(), png));
        ASSERT_TRUE(browser::decodePng(png.data(), png.size(), reference, nullptr));
        const DibRecord& picture = form->MainDib;
        ASSERT_EQ(picture.info->bmiHeader.biWidth, reference.width);
        ASSERT_EQ(picture.info->bmiHeader.biHeight, reference.height);
        int differences = 0, firstX = -1, firstY = -1;
        for (int y = 0; y < reference.height; ++y)
            for (int x = 0; x < reference.width; ++x)
                if (pictureAt(picture, x, y) != reference.rgb(x, y) && differences++ == 0) {
                    firstX = x;
                    firstY = y;
                }
        EXPECT_EQ(differences, 0) << "first at " << firstX << "," << firstY;
    }
}

// Each of Render's own failures: its message in the window's box, the previous picture kept,
// what the run made given back, and the bar where the failure leaves it.
TEST_F(RenderWindowTest, FailuresShowTheirMessageAndKeepThePicture) {
    using gdi::testing::Call;
    showPage(form->TabSheet4);
    struct Row {
        const char* name;
        const char* quality; // as typed, the range not yet enforced
        int viewHeight;
        Call call;
        int nth; // 0: no failure injected
        const char* message;
        int progressAtMessage;
        int progressAfter;
    } const rows[] = {
        {"too large", "2000", 1000, Call::newdib, 0,
         "With this high quality the resulting bitmap is to large! Please select a lower quality.", 30, 30},
        {"typed far above the range", "99999999999999999999", 1000, Call::newdib, 0,
         "With this high quality the resulting bitmap is to large! Please select a lower quality.", 30, 30},
        {"typed below zero", "-50", 1000, Call::newdib, 0,
         "Could not create bitmap! Not enough free memory?!", 30, 30},
        {"no output picture", "100", 1000, Call::newdib, 1,
         "Could not create bitmap! Not enough free memory?!", 30, 30},
        {"third strip bitmap", "100", 1200, Call::CreateDIBSection, 3,
         "Could not create bitmap! Please choose a smaller size!", 83, 0},
        {"second strip picture", "100", 1200, Call::newdib, 3,
         "Could not create bitmap! Please choose a smaller size!", 41, 0},
        {"read back", "100", 1000, Call::GetDIBits, 2, "Could not copy bitmap! Not enough free memory?!", 30,
         0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        form->QualEd->setText(QString::fromLatin1(row.quality));
        form->hoched->setText(QString::number(row.viewHeight));
        ASSERT_EQ(form->web->viewHeight(), row.viewHeight);
        form->SetProStatus(0);
        form->SetProStatus(30);
        const DibRecord before = form->MainDib;
        const Baseline baseline;
        boxes.clear();
        int progressAtMessage = -1;
        boxes.setOnShow([&](const platform::MessageBoxRequest&) { progressAtMessage = form->ProStatus; });
        {
            gdi::testing::FailureScope failures;
            if (row.nth > 0) gdi::testing::FailNthCall(row.call, row.nth);
            form->RenderBtn->click();
        }
        ASSERT_EQ(boxes.calls().size(), 1u);
        EXPECT_EQ(boxes.calls()[0].text, QString::fromLatin1(row.message));
        EXPECT_EQ(boxes.calls()[0].caption, "Error");
        EXPECT_EQ(boxes.calls()[0].type, MB_OK | MB_ICONSTOP);
        EXPECT_EQ(boxes.calls()[0].owner, form.get());
        EXPECT_EQ(progressAtMessage, row.progressAtMessage) << "the message comes before the bar is reset";
        EXPECT_EQ(form->ProStatus, row.progressAfter);
        EXPECT_EQ(form->MainDib.bits, before.bits);
        EXPECT_TRUE(allWhite(form->MainDib));
        baseline.expectNothingLeft();
    }
    boxes.setOnShow({});
}

// An engine that died under the view and cannot be started again: the general error handler
// says so, and nothing changes.
TEST_F(RenderWindowTest, AnEngineThatDiedIsReportedAndThePictureKept) {
    load(kPage);
    const long pid = browser::engine::enginePid();
    ASSERT_GT(pid, 0);
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", QFile::encodeName(dir.path())); // no engine to be found there
    ::kill(pid_t(pid), SIGKILL);
    // The view notices the death through the event loop and tries a new engine, in vain.
    ASSERT_TRUE(QTest::qWaitFor([&] { return browser::engine::enginePid() != pid; }, 10000));
    const DibRecord before = form->MainDib;
    const Baseline baseline;
    form->RenderBtn->click();
    qputenv("PATH", path);
    ASSERT_EQ(boxes.calls().size(), 1u);
    EXPECT_EQ(boxes.calls()[0].caption, "Velmora 1.0");
    EXPECT_EQ(boxes.calls()[0].type, MB_OK | MB_ICONSTOP);
    EXPECT_TRUE(boxes.calls()[0].text.contains("engine")) << boxes.calls()[0].text.toStdString();
    EXPECT_EQ(form->MainDib.bits, before.bits);
    EXPECT_EQ(form->ProStatus, 0);
    baseline.expectNothingLeft();
}

// A page that stops answering after it has loaded: Render ends within a few seconds with a
// message that speaks of the page, and the picture stays.
TEST_F(RenderWindowTest, RenderOnAPageThatStoppedAnsweringEndsSoonAndKeepsThePicture) {
    load("<html><body onload='setTimeout(() => { for (;;) {} }, 200)'>spinning</body></html>");
    QElapsedTimer spinning;
    spinning.start();
    waitFor([&] { return spinning.elapsed() > 400; });
    const DibRecord before = form->MainDib;
    QElapsedTimer clock;
    clock.start();
    form->RenderBtn->click();
    EXPECT_LT(clock.elapsed(), 10000) << "Render waited on a page that does not answer";
    ASSERT_EQ(boxes.calls().size(), 1u);
    const QString text = boxes.calls()[0].text;
    EXPECT_TRUE(text.contains("stopped answering")) << text.toStdString();
    EXPECT_FALSE(text.contains("Page.") || text.contains("Runtime.")) << text.toStdString();
    EXPECT_EQ(form->MainDib.bits, before.bits);
}

// The engine died while the window was idle: the first Render afterwards succeeds.
TEST_F(RenderWindowTest, RenderAfterTheEngineDiedSucceedsAtTheFirstTry) {
    load(kPage);
    const long pid = browser::engine::enginePid();
    ASSERT_GT(pid, 0);
    ::kill(pid_t(pid), SIGKILL);
    ::waitpid(pid_t(pid), nullptr, 0);
    const DibRecord before = form->MainDib;
    form->RenderBtn->click();
    EXPECT_TRUE(boxes.calls().empty()) << boxes.calls()[0].text.toStdString();
    EXPECT_NE(form->MainDib.bits, before.bits);
}
