// What the tests of the window's Render, progress bar, result views, save and print share: a
// shown main window with recorders for message boxes, the shell and the help system, pictures
// to put into MainDib, and a look at what the window shows without making it paint again.
#pragma once

#include "app/Application.h"
#include "app/MainUnit.h"
#include "platform/Help.h"
#include "platform/MessageBox.h"
#include "platform/Shell.h"
#include "platform/gdi/GdiTesting.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QPixmap>
#include <QScreen>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QWidget>
#include <cstring>
#include <functional>
#include <gtest/gtest.h>
#include <memory>

namespace windowtest {

inline bool waitFor(const std::function<bool()>& done, int ms = 20000) {
    return QTest::qWaitFor(done, ms);
}

// A picture whose every pixel is colour(x, top), top counted from the picture's top row.
inline DibRecord makePicture(int w, int h, const std::function<std::uint32_t(int x, int top)>& colour) {
    DibRecord dib{};
    newdib(&dib, w, h, 24, nullptr, 0);
    if (dib.bits)
        for (int top = 0; top < h; ++top)
            for (int x = 0; x < w; ++x)
                setpixel(dib, x, h - 1 - top, colour(x, top));
    return dib;
}

// Red 'F' on blue, green dot in the bottom-right corner: flips and channel swaps show at once.
inline std::uint32_t letterF(int x, int top, int w, int h) {
    if (x == w - 1 && top == h - 1) return 0x00FF00;
    const bool stem = x == 1 && top >= 1 && top < h - 1;
    const bool bar = (top == 1 || top == h / 2) && x >= 1 && x < w - 1;
    return stem || bar ? 0xFF0000 : 0x0000FF;
}

inline std::uint32_t rgbOf(QRgb c) {
    return std::uint32_t(qRed(c)) << 16 | std::uint32_t(qGreen(c)) << 8 | std::uint32_t(qBlue(c));
}

// What window shows of widget right now, read from the window's surface: nothing is painted
// for it, so this is what the last paints and direct drawing left there.
inline QImage onScreen(QWidget* window, QWidget* widget) {
    const QPoint at = widget->mapTo(window, QPoint(0, 0));
    return window->screen()
        ->grabWindow(window->winId(), at.x(), at.y(), widget->width(), widget->height())
        .toImage()
        .convertToFormat(QImage::Format_RGB32);
}

class WindowTest : public ::testing::Test {
  protected:
    platform::MessageBoxRecorder boxes{{}, platform::IDOK};
    platform::ShellRecorder shell;
    platform::HelpRecorder help;
    std::unique_ptr<TMainForm> form;

    void SetUp() override {
        InitApplicationTitle();
        form = std::make_unique<TMainForm>();
        form->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
    }
    void TearDown() override { form.reset(); }

    void showPage(QWidget* page) {
        form->PageControl2->setCurrentWidget(page);
        QCoreApplication::processEvents();
    }

    // Makes picture the window's current picture, as a finished Render does.
    void setMainDib(DibRecord picture) {
        deldib(form->MainDib);
        form->MainDib = picture;
    }

    QImage onScreen(QWidget* widget) { return windowtest::onScreen(form.get(), widget); }
};

// A main window whose start-up picture could not be made (newdib failed at creation).
inline std::unique_ptr<TMainForm> makeFormWithoutPicture() {
    gdi::testing::FailureScope failures;
    gdi::testing::FailNthCall(gdi::testing::Call::newdib);
    return std::make_unique<TMainForm>();
}

} // namespace windowtest
