// The two result views: how they take the picture's size, what they draw, and drag panning
// with the mouse, sent as the pointer would move over the scroll box.
#include "app/ResultView.h"

#include "platform/gdi/GdiTesting.h"
#include "platform/widgets/PaintBox.h"
#include "tests/app/WindowTestSupport.h"

#include <QApplication>
#include <QMouseEvent>
#include <QScrollArea>
#include <QScrollBar>

using namespace windowtest;

namespace {

// A picture in which every pixel tells where it is.
std::uint32_t place(int x, int top) {
    return std::uint32_t((x * 7 + top * 3) & 0xFF) << 16 | std::uint32_t(x & 0xFF) << 8 |
           std::uint32_t(top & 0xFF);
}

// Sends a mouse event to a view's paint box at a point of its scroll box's viewport, in the
// paint box's own coordinates, which move as the box scrolls.
void mouse(widgets::PaintBox* box, QEvent::Type type, QPoint viewportPoint, Qt::MouseButton button,
           Qt::MouseButtons held) {
    const QPointF local = box->mapFrom(box->parentWidget(), viewportPoint);
    QMouseEvent event(type, local, box->mapToGlobal(local), button, held, Qt::NoModifier);
    QApplication::sendEvent(box, &event);
}

struct View {
    QWidget* page;
    QScrollArea* scrollBox;
    widgets::PaintBox* paintBox;
};

} // namespace

TEST(ResultView, DragTargetsKeepWithinTheRange) {
    struct Row {
        int position, pressed, pointer, range, target;
    } const rows[] = {
        {1000, 200, 230, 5000, 970},    // pointer right: the picture follows, position down
        {10, 200, 230, 5000, 0},        // not below 0
        {4000, 300, -5000, 3000, 2999}, // far past the end: range - 1
        {0, 5, 5, 0, -1},               // nothing to scroll: the scroll box makes it 0
    };
    for (const Row& r : rows)
        EXPECT_EQ(app::dragTarget(r.position, r.pressed, r.pointer, r.range), r.target)
            << r.position << " " << r.pressed << " " << r.pointer << " " << r.range;
}

class ResultViewTest : public WindowTest {
  protected:
    View quality() { return {form->TabSheet4, form->ScrollBox3, form->PaintBox2}; }
    View result() { return {form->TabSheet5, form->ErgScrollBox, form->ErgPaintBox}; }

    void settle(const View& v, QSize size) {
        showPage(v.page);
        ASSERT_TRUE(waitFor([&] { return v.paintBox->size() == size; }, 5000))
            << v.paintBox->width() << "x" << v.paintBox->height();
        QCoreApplication::processEvents();
    }
};

TEST_F(ResultViewTest, ANewSizeTakesThreePaintsWidthThenHeightThenThePicture) {
    settle(quality(), QSize(320, 200));
    // Wider and lower than before, and small enough to be seen whole.
    setMainDib(makePicture(380, 150, place));
    widgets::PaintBox* box = form->PaintBox2;
    ASSERT_GE(form->ScrollBox3->viewport()->width(), 380);

    box->repaint();
    EXPECT_EQ(box->size(), QSize(380, 200)) << "first the width";
    box->repaint();
    EXPECT_EQ(box->size(), QSize(380, 150)) << "then the height";
    EXPECT_NE(rgbOf(onScreen(box).pixel(370, 100)), place(370, 100)) << "nothing drawn yet";
    box->repaint();
    const QImage shown = onScreen(box);
    for (QPoint p : {QPoint(0, 0), QPoint(379, 0), QPoint(0, 149), QPoint(379, 149), QPoint(370, 100)})
        EXPECT_EQ(rgbOf(shown.pixel(p)), place(p.x(), p.y())) << p.x() << "," << p.y();
    EXPECT_EQ(box->cursor().shape(), Qt::PointingHandCursor);
}

TEST_F(ResultViewTest, BothViewsShowTheWholePictureUnscaled) {
    setMainDib(makePicture(700, 450, place));
    for (const View& v : {quality(), result()}) {
        settle(v, QSize(700, 450));
        // The whole box, also what the scroll box does not show.
        const QImage shown = v.paintBox->grab().toImage();
        ASSERT_EQ(shown.size(), QSize(700, 450));
        for (int y = 0; y < 450; y += 37)
            for (int x = 0; x < 700; x += 41)
                ASSERT_EQ(rgbOf(shown.pixel(x, y)), place(x, y)) << x << "," << y;
        EXPECT_EQ(rgbOf(shown.pixel(699, 449)), place(699, 449));
    }
}

TEST_F(ResultViewTest, DraggingPansThePictureWithinItsBounds) {
    setMainDib(makePicture(5000, 3000, place));
    for (const View& v : {result(), quality()}) {
        SCOPED_TRACE(v.paintBox->objectName().toStdString());
        settle(v, QSize(5000, 3000));
        QScrollBar* h = v.scrollBox->horizontalScrollBar();
        QScrollBar* vert = v.scrollBox->verticalScrollBar();
        const int visibleHeight = v.scrollBox->viewport()->height();
        ASSERT_EQ(vert->maximum(), 3000 - visibleHeight);
        const QPoint grab(100, 80);

        // Any button drags; 30 pixels to the right scroll 30 pixels back, twice.
        h->setValue(1000);
        vert->setValue(1000);
        mouse(v.paintBox, QEvent::MouseButtonPress, grab, Qt::RightButton, Qt::RightButton);
        mouse(v.paintBox, QEvent::MouseMove, grab + QPoint(30, 0), Qt::NoButton, Qt::RightButton);
        EXPECT_EQ(h->value(), 970);
        EXPECT_EQ(vert->value(), 1000);
        mouse(v.paintBox, QEvent::MouseMove, grab + QPoint(60, 0), Qt::NoButton, Qt::RightButton);
        EXPECT_EQ(h->value(), 940) << "the grabbed point stays under the pointer";
        mouse(v.paintBox, QEvent::MouseButtonRelease, grab + QPoint(60, 0), Qt::RightButton, Qt::NoButton);

        // Not below 0.
        h->setValue(10);
        mouse(v.paintBox, QEvent::MouseButtonPress, grab, Qt::LeftButton, Qt::LeftButton);
        mouse(v.paintBox, QEvent::MouseMove, grab + QPoint(30, 0), Qt::NoButton, Qt::LeftButton);
        EXPECT_EQ(h->value(), 0);
        mouse(v.paintBox, QEvent::MouseButtonRelease, grab + QPoint(30, 0), Qt::LeftButton, Qt::NoButton);

        // A fast upward drag past the bottom end stops there; sideways nothing changes.
        h->setValue(700);
        vert->setValue(vert->maximum() - 5);
        mouse(v.paintBox, QEvent::MouseButtonPress, grab, Qt::MiddleButton, Qt::MiddleButton);
        mouse(v.paintBox, QEvent::MouseMove, grab - QPoint(0, 8000), Qt::NoButton, Qt::MiddleButton);
        EXPECT_EQ(vert->value(), 3000 - visibleHeight);
        EXPECT_EQ(h->value(), 700);
        // After the release moves scroll nothing.
        mouse(v.paintBox, QEvent::MouseButtonRelease, grab, Qt::MiddleButton, Qt::NoButton);
        mouse(v.paintBox, QEvent::MouseMove, grab + QPoint(300, 300), Qt::NoButton, Qt::NoButton);
        EXPECT_EQ(h->value(), 700);
        EXPECT_EQ(vert->value(), 3000 - visibleHeight);
        // Neither do moves with no press at all.
        mouse(v.paintBox, QEvent::MouseMove, grab - QPoint(50, 50), Qt::NoButton, Qt::NoButton);
        EXPECT_EQ(h->value(), 700);
    }
}

TEST_F(ResultViewTest, ADragInOneViewLeavesTheOtherWhereItWas) {
    setMainDib(makePicture(5000, 3000, place));
    settle(result(), QSize(5000, 3000));
    settle(quality(), QSize(5000, 3000));
    form->ErgScrollBox->horizontalScrollBar()->setValue(300);
    form->ErgScrollBox->verticalScrollBar()->setValue(200);
    mouse(form->PaintBox2, QEvent::MouseButtonPress, QPoint(200, 150), Qt::LeftButton, Qt::LeftButton);
    mouse(form->PaintBox2, QEvent::MouseMove, QPoint(100, 50), Qt::NoButton, Qt::LeftButton);
    EXPECT_EQ(form->ScrollBox3->horizontalScrollBar()->value(), 100);
    EXPECT_EQ(form->ScrollBox3->verticalScrollBar()->value(), 100);
    EXPECT_EQ(form->ErgScrollBox->horizontalScrollBar()->value(), 300);
    EXPECT_EQ(form->ErgScrollBox->verticalScrollBar()->value(), 200);
    EXPECT_TRUE(form->PaintBox2Drag);
    EXPECT_FALSE(form->ErgDrag);
}

TEST_F(ResultViewTest, TheStartPictureFitsAndDraggingMovesNothing) {
    settle(quality(), QSize(320, 200));
    EXPECT_FALSE(form->ScrollBox3->horizontalScrollBar()->isVisible());
    EXPECT_FALSE(form->ScrollBox3->verticalScrollBar()->isVisible());
    EXPECT_EQ(rgbOf(onScreen(form->PaintBox2).pixel(319, 199)), 0xFFFFFFu);
    mouse(form->PaintBox2, QEvent::MouseButtonPress, QPoint(100, 100), Qt::LeftButton, Qt::LeftButton);
    mouse(form->PaintBox2, QEvent::MouseMove, QPoint(10, 10), Qt::NoButton, Qt::LeftButton);
    EXPECT_EQ(form->ScrollBox3->horizontalScrollBar()->value(), 0);
    EXPECT_EQ(form->ScrollBox3->verticalScrollBar()->value(), 0);
    EXPECT_EQ(form->PaintBox2->pos(), QPoint(0, 0));
}

// When the start-up picture could not be made, the views draw nothing and keep their size.
TEST(ResultViewWithoutPicture, ViewsDrawNothing) {
    platform::MessageBoxRecorder boxes;
    platform::HelpRecorder help;
    InitApplicationTitle();
    std::unique_ptr<TMainForm> form = makeFormWithoutPicture();
    ASSERT_EQ(form->MainDib.bits, nullptr);
    form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
    for (QWidget* page : {form->TabSheet4, form->TabSheet5}) {
        form->PageControl2->setCurrentWidget(page);
        ASSERT_TRUE(QTest::qWaitFor([&] { return page->isVisible(); }));
        QCoreApplication::sendPostedEvents(); // the page's layout
    }
    EXPECT_EQ(form->PaintBox2->size(), QSize(393, 233));
    EXPECT_EQ(form->ErgPaintBox->size(), QSize(393, 233));
    const QImage shown = onScreen(form.get(), form->ErgPaintBox);
    const QColor workspace = form->ErgScrollBox->viewport()->palette().color(QPalette::Dark);
    EXPECT_EQ(rgbOf(shown.pixel(10, 10)), rgbOf(workspace.rgb())) << "no picture";
    mouse(form->ErgPaintBox, QEvent::MouseButtonPress, QPoint(100, 100), Qt::LeftButton, Qt::LeftButton);
    mouse(form->ErgPaintBox, QEvent::MouseMove, QPoint(10, 10), Qt::NoButton, Qt::LeftButton);
    EXPECT_TRUE(boxes.calls().empty());
}
