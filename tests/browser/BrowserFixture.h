// Shared pieces of the browser tests: fixture pages written into a temporary folder, a canvas
// to draw on through the raster layer, and waiting on the event loop with a limit.
#pragma once

#include "platform/browser/BrowserView.h"
#include "platform/gdi/Gdi.h"

#include <QImage>
#include <QTemporaryDir>
#include <functional>

namespace browsertest {

class Pages {
  public:
    Pages();
    QString write(const QString& name, const QByteArray& html); // returns the file's path
    QString path(const QString& name) const;
    const QTemporaryDir& dir() const { return m_dir; }

  private:
    QTemporaryDir m_dir;
};

// A white-on-magenta test picture: the page is white, so magenta marks pixels not drawn.
constexpr QRgb untouched = 0xFFFF00FF;

class Canvas {
  public:
    Canvas(int width, int height, QRgb fill = untouched);
    ~Canvas();
    Canvas(const Canvas&) = delete;
    Canvas& operator=(const Canvas&) = delete;
    gdi::HDC dc() const { return m_dc; }
    QRgb at(int x, int y) const { return m_image.pixel(x, y) | 0xFF000000u; }
    const QImage& image() const { return m_image; }

  private:
    QImage m_image;
    gdi::HDC m_dc = nullptr;
};

bool near(QRgb a, QRgb b, int tolerance = 3);
bool waitFor(const std::function<bool()>& done, int ms = 15000);

// The page used for pixel probes, laid out for a view of 800 x 1000:
// red 200 x 100 at (100, 50), blue 100 x 100 at (400, 300), green 100 x 100 at (700, 900),
// a black line 1 pixel wide at x = 600 from y = 400 to 800, white elsewhere.
QByteArray blocksPage();
constexpr QRgb red = 0xFFFF0000, blue = 0xFF0000FF, green = 0xFF00FF00, white = 0xFFFFFFFF,
               black = 0xFF000000;

// Navigates (in the page the view has, when reusing) and waits until the main frame's document
// has completed.
void loadAndWait(browser::BrowserView& view, const QString& address, bool reusing = false);

// Runs a script in the view's page and returns its value as JSON text.
QByteArray evaluate(browser::BrowserView& view, const QString& expression);

} // namespace browsertest
