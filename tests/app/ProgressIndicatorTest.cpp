// The progress bar in the status bar's owner-drawn panel, as the window shows it: read from the
// window's surface, so that a bar drawn straight onto the status bar is seen as it was drawn and
// not as a later paint would redraw it.
#include "app/ProgressIndicator.h"

#include "platform/AppEvents.h"
#include "platform/gdi/GdiOwners.h"
#include "platform/gdi/GdiQt.h"
#include "platform/widgets/StatusBar.h"
#include "tests/app/WindowTestSupport.h"

#include <QPaintEvent>
#include <thread>
#include <utility>
#include <vector>

using namespace windowtest;

namespace {

constexpr std::uint32_t kNavy = 0x000080;

// The right end (exclusive) of the navy run that starts at the panel's left edge, on each
// row of the panel; -1 when the rows disagree.
int barEnd(const QImage& bar, const gdi::RECT& panel) {
    int end = -2;
    for (int y = panel.top; y < panel.bottom; ++y) {
        int x = panel.left;
        while (x < bar.width() && rgbOf(bar.pixel(x, y)) == kNavy)
            ++x;
        if (end != -2 && end != x) return -1;
        end = x;
    }
    return end;
}

gdi::RECT panelOf(widgets::StatusBar* bar) {
    const QRect r = bar->panelRect(1);
    return gdi::RECT{r.left(), r.top(), r.right() + 1, r.bottom() + 1};
}

struct Paint {
    QRect rect;
    bool directDrawing; // the repaint that shows what a window DC drew
    std::int32_t proStatus;
};

class PaintLog : public QObject {
  public:
    PaintLog(QWidget* widget, const TMainForm* form) : m_widget(widget), m_form(form) {
        // The window handle watches paints too; it must exist before this filter so that this
        // one sees every paint first.
        gdi::WindowFromWidget(widget);
        widget->installEventFilter(this);
    }
    std::vector<Paint> paints;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == m_widget && event->type() == QEvent::Paint)
            paints.push_back(
                {static_cast<QPaintEvent*>(event)->rect(), gdi::IsOverlayFlush(m_widget), m_form->ProStatus});
        return false;
    }

  private:
    QWidget* m_widget;
    const TMainForm* m_form;
};

} // namespace

TEST(ProgressBar, GeometryFollowsThePanelAndKeepsWithinIt) {
    struct Row {
        gdi::RECT panel;
        std::int32_t percent;
        gdi::LONG right;
    } const rows[] = {
        {{252, 3, 552, 18}, 50, 402},
        {{252, 3, 552, 18}, 33, 351}, // 300 x 33 = 9900, div 100 = 99
        {{252, 3, 552, 18}, 0, 252},
        {{252, 3, 552, 18}, 100, 552},
        {{252, 3, 552, 18}, 101, 552},
        {{252, 3, 552, 18}, -7, 252},
        {{252, 3, 552, 18}, INT32_MIN, 252},
        {{10, 0, 13, 5}, 99, 12}, // 2.97 truncated
        // A product that does not fit in 32 bits.
        {{0, 0, 30000000, 1}, 100, 30000000},
        {{0, 0, 30000000, 1}, 77, 23100000},
    };
    for (const Row& row : rows) {
        const gdi::RECT bar = app::progressBarRect(row.panel, row.percent);
        EXPECT_EQ(bar.left, row.panel.left);
        EXPECT_EQ(bar.top, row.panel.top);
        EXPECT_EQ(bar.bottom, row.panel.bottom);
        EXPECT_EQ(bar.right, row.right) << row.percent << "% of " << row.panel.right - row.panel.left;
    }
}

// A capture draws the bar once per strip: each draw gives the DC its own pen and brush back
// and keeps no pen or brush of its own alive.
TEST(ProgressBar, DrawingLeavesTheDcsPenAndBrushAndKeepsNone) {
    QImage image(40, 6, QImage::Format_RGB32);
    image.fill(Qt::white);
    const gdi::DcOwner dc(gdi::CreateImageDC(&image));
    const gdi::BrushOwner probeBrush(gdi::CreateSolidBrush(gdi::RGB(1, 1, 1)));
    const gdi::PenOwner probePen(gdi::CreatePen(gdi::PS_SOLID, 1, gdi::RGB(1, 1, 1)));
    auto selected = [&] {
        const gdi::SelectionGuard brush(dc.get(), probeBrush.get());
        const gdi::SelectionGuard pen(dc.get(), probePen.get());
        return std::make_pair(brush.previous(), pen.previous());
    };
    const auto before = selected();
    const auto objects = gdi::testing::LiveObjects();
    for (int percent : {25, 50, 100})
        app::drawProgressBar(dc.get(), gdi::RECT{0, 0, 40, 6}, percent);
    EXPECT_EQ(rgbOf(image.pixel(39, 3)), kNavy) << "the bar was drawn";
    EXPECT_EQ(selected(), before);
    EXPECT_EQ(gdi::testing::LiveObjects().brushes, objects.brushes);
    EXPECT_EQ(gdi::testing::LiveObjects().pens, objects.pens);
}

class ProgressIndicatorTest : public WindowTest {};

TEST_F(ProgressIndicatorTest, BarReachesTheSharePerCentOfThePanel) {
    // A panel of 300 pixels from x = 252.
    form->StatusBar1->setPanels({{249, false, QString()}, {50, true, QString()}});
    form->resize(553, form->height());
    ASSERT_TRUE(waitFor([&] { return form->StatusBar1->width() == 553; }, 2000))
        << "the window is at least " << form->StatusBar1->width() << " wide";
    QCoreApplication::processEvents();
    const gdi::RECT panel = panelOf(form->StatusBar1);
    ASSERT_EQ(panel.left, 252);
    ASSERT_EQ(panel.right - panel.left, 300);
    EXPECT_EQ(std::memcmp(&form->ProRect, &panel, sizeof panel), 0) << "saved at the panel's last paint";

    struct Row {
        std::int32_t percent;
        int end;
    } const rows[] = {{50, 402}, {33, 351}, {100, 552}, {0, 252}};
    for (const Row& row : rows) {
        form->SetProStatus(0);
        form->SetProStatus(row.percent);
        const QImage bar = onScreen(form->StatusBar1);
        EXPECT_EQ(barEnd(bar, panel), row.end) << row.percent << "%";
        EXPECT_NE(rgbOf(bar.pixel(251, 8)), kNavy) << "nothing left of the panel";
    }
}

TEST_F(ProgressIndicatorTest, GrowsWithoutErasingAndShrinksThroughOneFullRepaint) {
    QCoreApplication::processEvents();
    const gdi::RECT panel = panelOf(form->StatusBar1);
    const int width = panel.right - panel.left;
    PaintLog log(form->StatusBar1, form.get());

    for (int percent : {10, 40, 100, 100}) {
        log.paints.clear();
        form->SetProStatus(percent);
        EXPECT_EQ(form->ProStatus, percent);
        const QImage bar = onScreen(form->StatusBar1);
        EXPECT_EQ(barEnd(bar, panel), panel.left + width * percent / 100) << percent << "%";
        // Drawn straight onto the status bar: the only paint is the one that shows the drawing,
        // and nothing of the bar was erased and drawn anew.
        for (const Paint& p : log.paints) {
            EXPECT_TRUE(p.directDrawing) << percent << "%";
            EXPECT_LE(p.rect.right() + 1, panel.left + width * percent / 100);
        }
    }

    log.paints.clear();
    form->SetProStatus(0);
    ASSERT_EQ(log.paints.size(), 1u) << "the repaint happens before SetProStatus returns";
    EXPECT_FALSE(log.paints[0].directDrawing);
    EXPECT_EQ(log.paints[0].rect, form->StatusBar1->rect());
    EXPECT_EQ(log.paints[0].proStatus, 0);
    EXPECT_EQ(barEnd(onScreen(form->StatusBar1), panel), panel.left) << "the panel is empty";
}

TEST_F(ProgressIndicatorTest, AfterAResizeTheBarIsDrawnInTheNewPanelAlsoFromAnotherThread) {
    QCoreApplication::processEvents();
    form->SetProStatus(50);
    const int oldRight = form->ProRect.right;
    form->resize(form->width() + 120, form->height());
    ASSERT_TRUE(waitFor([&] { return form->ProRect.right == oldRight + 120; }, 2000));
    const gdi::RECT panel = panelOf(form->StatusBar1);
    EXPECT_EQ(std::memcmp(&form->ProRect, &panel, sizeof panel), 0);
    const int width = panel.right - panel.left;
    EXPECT_EQ(barEnd(onScreen(form->StatusBar1), panel), panel.left + width / 2) << "redrawn at 50 %";

    std::thread([&] { platform::PostUserMessage(form.get(), platform::WM_USER, 75, 0); }).join();
    ASSERT_TRUE(waitFor([&] { return form->ProStatus == 75; }, 2000));
    EXPECT_EQ(barEnd(onScreen(form->StatusBar1), panel), panel.left + width * 75 / 100);
}

TEST_F(ProgressIndicatorTest, PercentagesBeyondTheRangeStayInsideThePanel) {
    QCoreApplication::processEvents();
    const gdi::RECT panel = panelOf(form->StatusBar1);
    form->WMUser(250);
    QImage bar = onScreen(form->StatusBar1);
    EXPECT_EQ(barEnd(bar, panel), panel.right);
    EXPECT_NE(rgbOf(bar.pixel(panel.right, panel.top)), kNavy) << "the frame is not painted over";
    form->WMUser(-40);
    EXPECT_EQ(form->ProStatus, -40);
    EXPECT_EQ(barEnd(onScreen(form->StatusBar1), panel), panel.left);
}
