// The picture control keeps the mouse from press to release even when it hides itself on the
// press, as the image buttons do; the events here go through the window like real input.
#include "platform/widgets/ImageControl.h"

#include "tests/widgets/QStringPrinter.h"

#include <QTest>
#include <QWindow>
#include <gtest/gtest.h>
#include <vector>

using widgets::ImageControl;
using widgets::ImagePair;

namespace {

struct Fixture {
    QWidget top;
    QWidget* bar = new QWidget(&top);
    ImageControl* pressedLook = new ImageControl(bar);
    ImageControl* normalLook = new ImageControl(bar);
    bool pressed = false;
    ImagePair pair{normalLook, pressedLook, &pressed};
    std::vector<QString> log;

    Fixture() {
        top.resize(300, 100);
        bar->setGeometry(0, 50, 300, 50);
        for (ImageControl* image : {normalLook, pressedLook})
            image->setGeometry(100, 10, 101, 30);
        pressedLook->hide();
        QObject::connect(normalLook, &ImageControl::mouseDown,
                         [this](Qt::MouseButton, Qt::KeyboardModifiers, int x, int y) {
                             log.push_back(QStringLiteral("down %1,%2").arg(x).arg(y));
                             pair.down();
                         });
        QObject::connect(normalLook, &ImageControl::mouseMove, [this](Qt::KeyboardModifiers, int x, int y) {
            log.push_back(QStringLiteral("move %1,%2").arg(x).arg(y));
            pair.move(x, y);
        });
        QObject::connect(normalLook, &ImageControl::mouseUp,
                         [this](Qt::MouseButton, Qt::KeyboardModifiers, int x, int y) {
                             log.push_back(QStringLiteral("up %1,%2").arg(x).arg(y));
                             pair.up();
                         });
        QObject::connect(normalLook, &ImageControl::clicked, [this] {
            log.push_back(QStringLiteral("click pressed=%1").arg(pressedLook->isVisible()));
        });
        top.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&top));
    }

    QWindow* window() { return top.windowHandle(); }
    // A point in the normal image's coordinates, as a window position.
    QPoint at(int x, int y) { return normalLook->mapTo(&top, QPoint(x, y)); }
};

} // namespace

TEST(ImageControl, PressOutAndBackInTracksTheLookAndReleaseInsideClicks) {
    Fixture f;
    QTest::mousePress(f.window(), Qt::LeftButton, {}, f.at(10, 10));
    EXPECT_TRUE(f.pressedLook->isVisible());
    EXPECT_FALSE(f.normalLook->isVisible());
    EXPECT_TRUE(f.pressed);

    QTest::mouseMove(f.window(), f.at(150, -20)); // out, above and to the right
    EXPECT_TRUE(f.normalLook->isVisible());
    EXPECT_FALSE(f.pressedLook->isVisible());
    QTest::mouseMove(f.window(), f.at(100, 29)); // back in, at the last pixel row
    EXPECT_TRUE(f.pressedLook->isVisible());
    EXPECT_FALSE(f.normalLook->isVisible());

    QTest::mouseRelease(f.window(), Qt::LeftButton, {}, f.at(100, 29));
    const std::vector<QString> expected = {"down 10,10", "move 150,-20", "move 100,29", "click pressed=1",
                                           "up 100,29"};
    EXPECT_EQ(f.log, expected);
    EXPECT_TRUE(f.normalLook->isVisible());
    EXPECT_FALSE(f.pressedLook->isVisible());
    EXPECT_FALSE(f.pressed);
}

TEST(ImageControl, ReleaseOutsideDoesNotClick) {
    Fixture f;
    QTest::mousePress(f.window(), Qt::LeftButton, {}, f.at(5, 5));
    QTest::mouseMove(f.window(), f.at(101, 5)); // one past the right edge
    EXPECT_TRUE(f.normalLook->isVisible());
    QTest::mouseRelease(f.window(), Qt::LeftButton, {}, f.at(101, 5));
    const std::vector<QString> expected = {"down 5,5", "move 101,5", "up 101,5"};
    EXPECT_EQ(f.log, expected);
    EXPECT_FALSE(f.pressed);
    // The capture is over: a later move elsewhere reaches nobody here.
    QTest::mouseMove(f.window(), f.at(20, 20));
    EXPECT_EQ(f.log.size(), expected.size());
}

TEST(ImageControl, RightButtonPressesButDoesNotClick) {
    Fixture f;
    QTest::mousePress(f.window(), Qt::RightButton, {}, f.at(5, 5));
    EXPECT_TRUE(f.pressed);
    QTest::mouseRelease(f.window(), Qt::RightButton, {}, f.at(5, 5));
    const std::vector<QString> expected = {"down 5,5", "up 5,5"};
    EXPECT_EQ(f.log, expected);
}

TEST(ImagePair, MovesWithoutAPressChangeNothing) {
    ImageControl normal, pressedLook;
    bool pressed = false;
    ImagePair pair(&normal, &pressedLook, &pressed);
    normal.resize(101, 30);
    normal.show();
    pressedLook.hide();
    pair.move(5, 5);
    EXPECT_TRUE(normal.isVisible());
    EXPECT_FALSE(pressedLook.isVisible());
    EXPECT_FALSE(pressed);
}
