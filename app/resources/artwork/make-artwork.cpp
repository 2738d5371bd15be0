// Draws the main window's artwork: the eight tab icons, the five side-panel pictures, the normal
// and pressed looks of the About and Exit images, the glyphs of the web button and of "Open
// website...", and the window icon. Run once after a change and commit the PNGs it writes; the
// program itself only loads them:
//   c++ -std=c++20 -fPIC make-artwork.cpp $(pkg-config --cflags --libs Qt6Gui) -o /tmp/make-artwork
//   QT_QPA_PLATFORM=offscreen /tmp/make-artwork app/resources/artwork
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <cmath>
#include <cstdio>
#include <functional>

namespace {

// The window's own colours: the header peach, the side-panel mint, the title maroon, and the
// brick red, greens and sky blue of the About picture.
const QColor kPeach(240, 202, 166);
const QColor kMint(192, 220, 192);
const QColor kMaroon(128, 0, 0);
const QColor kBrick(176, 62, 44);
const QColor kBrown(90, 60, 40);
const QColor kGreen(70, 120, 96);
const QColor kDeepGreen(48, 92, 70);
const QColor kSky(92, 160, 220);
const QColor kSun(255, 206, 84);

QImage canvas(int w, int h) {
    QImage img(w, h, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    return img;
}

void drawLandscape(QPainter& p, const QRectF& r) {
    QLinearGradient sky(r.topLeft(), r.bottomLeft());
    sky.setColorAt(0, kSky);
    sky.setColorAt(1, QColor(190, 224, 245));
    p.fillRect(r, sky);
    p.setPen(Qt::NoPen);
    p.setBrush(kSun);
    const qreal sun = r.height() * 0.2;
    p.drawEllipse(QPointF(r.left() + r.width() * 0.72, r.top() + r.height() * 0.32), sun, sun);
    QPainterPath hill;
    hill.moveTo(r.left(), r.bottom());
    hill.lineTo(r.left(), r.top() + r.height() * 0.66);
    hill.lineTo(r.left() + r.width() * 0.32, r.top() + r.height() * 0.36);
    hill.lineTo(r.left() + r.width() * 0.58, r.top() + r.height() * 0.64);
    hill.lineTo(r.right(), r.top() + r.height() * 0.5);
    hill.lineTo(r.right(), r.bottom());
    hill.closeSubpath();
    p.setBrush(kGreen);
    p.drawPath(hill);
}

void drawGlobe(QPainter& p, const QRectF& ball, qreal line) {
    QRadialGradient fill(ball.topLeft() + QPointF(ball.width() * 0.38, ball.height() * 0.32),
                         ball.width() * 0.7);
    fill.setColorAt(0, QColor(150, 206, 250));
    fill.setColorAt(1, QColor(30, 100, 190));
    p.setBrush(fill);
    p.setPen(QPen(QColor(20, 60, 130), line));
    p.drawEllipse(ball);
    p.setPen(QPen(QColor(235, 245, 255, 220), line * 0.9));
    p.setBrush(Qt::NoBrush);
    const QPointF c = ball.center();
    const qreal rx = ball.width() / 2, ry = ball.height() / 2;
    p.drawEllipse(QRectF(c.x() - rx * 0.45, ball.top(), rx * 0.9, ball.height()));
    p.drawLine(QPointF(c.x(), ball.top()), QPointF(c.x(), ball.bottom()));
    p.drawLine(QPointF(ball.left(), c.y()), QPointF(ball.right(), c.y()));
    p.drawLine(QPointF(c.x() - rx * 0.86, c.y() - ry * 0.5), QPointF(c.x() + rx * 0.86, c.y() - ry * 0.5));
    p.drawLine(QPointF(c.x() - rx * 0.86, c.y() + ry * 0.5), QPointF(c.x() + rx * 0.86, c.y() + ry * 0.5));
}

void drawFolder(QPainter& p, const QRectF& r, qreal line) {
    QPainterPath back;
    back.moveTo(r.left(), r.top() + r.height() * 0.15);
    back.lineTo(r.left() + r.width() * 0.38, r.top() + r.height() * 0.15);
    back.lineTo(r.left() + r.width() * 0.48, r.top() + r.height() * 0.3);
    back.lineTo(r.right(), r.top() + r.height() * 0.3);
    back.lineTo(r.right(), r.bottom());
    back.lineTo(r.left(), r.bottom());
    back.closeSubpath();
    p.setPen(QPen(QColor(150, 100, 30), line));
    p.setBrush(QColor(226, 178, 84));
    p.drawPath(back);
    p.setBrush(Qt::white);
    p.setPen(QPen(QColor(150, 150, 150), line * 0.8));
    p.drawRect(
        QRectF(r.left() + r.width() * 0.18, r.top() + r.height() * 0.22, r.width() * 0.6, r.height() * 0.5));
    QPainterPath front;
    front.moveTo(r.left() + r.width() * 0.12, r.top() + r.height() * 0.45);
    front.lineTo(r.right(), r.top() + r.height() * 0.45);
    front.lineTo(r.right() - r.width() * 0.1, r.bottom());
    front.lineTo(r.left(), r.bottom());
    front.closeSubpath();
    p.setPen(QPen(QColor(150, 100, 30), line));
    QLinearGradient g(r.topLeft(), r.bottomLeft());
    g.setColorAt(0, QColor(252, 214, 120));
    g.setColorAt(1, QColor(232, 172, 70));
    p.setBrush(g);
    p.drawPath(front);
}

void drawPage(QPainter& p, const QRectF& r, qreal line) {
    const qreal fold = r.width() * 0.3;
    QPainterPath page;
    page.moveTo(r.topLeft());
    page.lineTo(r.right() - fold, r.top());
    page.lineTo(r.right(), r.top() + fold);
    page.lineTo(r.bottomRight());
    page.lineTo(r.bottomLeft());
    page.closeSubpath();
    p.setPen(QPen(QColor(110, 110, 120), line));
    p.setBrush(Qt::white);
    p.drawPath(page);
    p.setBrush(QColor(220, 220, 226));
    QPainterPath corner;
    corner.moveTo(r.right() - fold, r.top());
    corner.lineTo(r.right() - fold, r.top() + fold);
    corner.lineTo(r.right(), r.top() + fold);
    p.drawPath(corner);
    p.setPen(QPen(kBrick, line));
    p.drawLine(QPointF(r.left() + r.width() * 0.18, r.top() + r.height() * 0.42),
               QPointF(r.right() - r.width() * 0.18, r.top() + r.height() * 0.42));
    p.setPen(QPen(QColor(160, 160, 168), line));
    for (int i = 0; i < 3; ++i) {
        const qreal y = r.top() + r.height() * (0.58 + 0.13 * i);
        p.drawLine(QPointF(r.left() + r.width() * 0.18, y), QPointF(r.right() - r.width() * 0.18, y));
    }
}

void drawMagnifier(QPainter& p, const QRectF& r, qreal line) {
    const QRectF lens(r.left(), r.top(), r.width() * 0.68, r.height() * 0.68);
    p.setPen(QPen(kBrown, line * 2.2, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(lens.center() + QPointF(lens.width() * 0.36, lens.height() * 0.36), r.bottomRight());
    p.setPen(QPen(QColor(60, 60, 70), line * 1.4));
    p.setBrush(QColor(210, 232, 250, 220));
    p.drawEllipse(lens);
}

void drawSizeFrame(QPainter& p, const QRectF& r, qreal line) {
    p.setPen(QPen(kBrown, line, Qt::DashLine));
    p.setBrush(QColor(255, 255, 255, 200));
    p.drawRect(r);
    p.setPen(QPen(kBrick, line * 1.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    const QPointF a = r.topLeft() + QPointF(r.width() * 0.2, r.height() * 0.8);
    const QPointF b = r.topLeft() + QPointF(r.width() * 0.8, r.height() * 0.2);
    p.drawLine(a, b);
    const qreal head = r.width() * 0.25;
    p.drawLine(b, b + QPointF(-head, 0));
    p.drawLine(b, b + QPointF(0, head));
    p.drawLine(a, a + QPointF(head, 0));
    p.drawLine(a, a + QPointF(0, -head));
}

void drawDisk(QPainter& p, const QRectF& r, qreal line) {
    p.setPen(QPen(QColor(30, 40, 80), line));
    p.setBrush(QColor(60, 90, 160));
    QPainterPath body;
    body.moveTo(r.topLeft());
    body.lineTo(r.right() - r.width() * 0.15, r.top());
    body.lineTo(r.right(), r.top() + r.height() * 0.15);
    body.lineTo(r.bottomRight());
    body.lineTo(r.bottomLeft());
    body.closeSubpath();
    p.drawPath(body);
    p.setBrush(QColor(220, 224, 230));
    p.drawRect(QRectF(r.left() + r.width() * 0.22, r.top(), r.width() * 0.5, r.height() * 0.34));
    p.setBrush(QColor(60, 90, 160));
    p.drawRect(QRectF(r.left() + r.width() * 0.52, r.top() + r.height() * 0.05, r.width() * 0.12,
                      r.height() * 0.22));
    p.setBrush(Qt::white);
    p.drawRect(
        QRectF(r.left() + r.width() * 0.14, r.top() + r.height() * 0.5, r.width() * 0.72, r.height() * 0.5));
    p.setPen(QPen(QColor(160, 160, 168), line * 0.8));
    for (int i = 0; i < 2; ++i) {
        const qreal y = r.top() + r.height() * (0.66 + 0.16 * i);
        p.drawLine(QPointF(r.left() + r.width() * 0.24, y), QPointF(r.right() - r.width() * 0.24, y));
    }
}

void drawPicture(QPainter& p, const QRectF& r, qreal line) {
    p.setPen(QPen(kBrown, line));
    p.setBrush(QColor(252, 250, 246));
    p.drawRect(r);
    const QRectF inner =
        r.adjusted(r.width() * 0.12, r.height() * 0.12, -r.width() * 0.12, -r.height() * 0.12);
    p.save();
    p.setClipRect(inner);
    drawLandscape(p, inner);
    p.restore();
}

void drawStar(QPainter& p, const QRectF& r, qreal line) {
    QPolygonF star;
    const QPointF c = r.center();
    for (int i = 0; i < 10; ++i) {
        const qreal radius = (i % 2 ? 0.42 : 1.0) * r.width() / 2;
        const qreal angle = -M_PI / 2 + i * M_PI / 5;
        star << c + QPointF(std::cos(angle) * radius, std::sin(angle) * radius);
    }
    QLinearGradient g(r.topLeft(), r.bottomLeft());
    g.setColorAt(0, QColor(255, 226, 120));
    g.setColorAt(1, QColor(236, 160, 40));
    p.setBrush(g);
    p.setPen(QPen(QColor(160, 90, 20), line, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPolygon(star);
}

using Motif = std::function<void(QPainter&, const QRectF&, qreal)>;

// The eight tab icons: 0 open file, 1 document, 2 magnifier, 3 size, 4 save and print,
// 5 website, 6 picture, 7 quality.
QImage tabIcon(int index) {
    QImage img = canvas(16, 16);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF r(1.5, 1.5, 13, 13);
    switch (index) {
    case 0:
        drawFolder(p, r, 1);
        break;
    case 1:
        drawPage(p, QRectF(3.5, 1.5, 9, 13), 1);
        break;
    case 2:
        drawMagnifier(p, r, 1);
        break;
    case 3:
        drawSizeFrame(p, r, 1);
        break;
    case 4:
        drawDisk(p, r, 1);
        break;
    case 5:
        drawGlobe(p, r, 1);
        break;
    case 6:
        drawPicture(p, QRectF(1.5, 2.5, 13, 11), 1);
        break;
    default:
        drawStar(p, QRectF(0.5, 0.5, 15, 15), 1);
        break;
    }
    return img;
}

// A side-panel picture: a soft gradient, fine diagonal lines, and the page's motif in the lower
// part (the title box covers the top). dark: for white labels drawn over it, which also need
// the motif small and low, below them.
QImage sidePicture(const Motif& motif, bool dark) {
    const int w = 195, h = 284;
    QImage img = canvas(w, h);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient g(0, 0, 0, h);
    if (dark) {
        g.setColorAt(0, QColor(44, 86, 74));
        g.setColorAt(1, QColor(20, 46, 40));
    } else {
        g.setColorAt(0, kMint.lighter(112));
        g.setColorAt(1, QColor(128, 172, 140));
    }
    p.fillRect(img.rect(), g);
    p.setPen(QPen(dark ? QColor(255, 255, 255, 18) : QColor(255, 255, 255, 60), 1));
    for (int x = -h; x < w; x += 12)
        p.drawLine(QPointF(x, h), QPointF(x + h, 0));
    // A round plate behind the motif.
    const qreal size = dark ? 96 : 140;
    const QRectF plate(w / 2.0 - size / 2, h - size - (dark ? 6 : 26), size, size);
    QRadialGradient halo(plate.center(), size / 2);
    halo.setColorAt(0, QColor(255, 255, 255, dark ? 60 : 150));
    halo.setColorAt(1, QColor(255, 255, 255, 0));
    p.setPen(Qt::NoPen);
    p.setBrush(halo);
    p.drawEllipse(plate);
    const qreal inset = size * 0.21;
    motif(p, plate.adjusted(inset, inset, -inset, -inset), dark ? 1.8 : 2.2);
    return img;
}

// The About and Exit images, 101 x 30: a raised peach button with its icon and word; the pressed
// look is sunk and darker, its content moved one pixel down and to the right.
QImage imageButton(const QString& word, bool exitButton, bool pressed) {
    QImage img = canvas(101, 30);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF body(0.5, 0.5, 100, 29);
    QLinearGradient g(body.topLeft(), body.bottomLeft());
    if (pressed) {
        g.setColorAt(0, kPeach.darker(125));
        g.setColorAt(1, kPeach.darker(105));
    } else {
        g.setColorAt(0, kPeach.lighter(112));
        g.setColorAt(1, kPeach.darker(112));
    }
    p.setBrush(g);
    p.setPen(QPen(kBrown, 1));
    p.drawRoundedRect(body, 6, 6);
    p.setPen(QPen(pressed ? QColor(0, 0, 0, 70) : QColor(255, 255, 255, 170), 1));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(body.adjusted(1, 1, -1, -1), 5, 5);

    const QPointF shift = pressed ? QPointF(1, 1) : QPointF(0, 0);
    const QRectF icon = QRectF(8, 6, 18, 18).translated(shift);
    if (exitButton) {
        // A door with an arrow leaving it.
        p.setPen(QPen(kBrown, 1.2));
        p.setBrush(QColor(160, 100, 60));
        p.drawRect(icon.adjusted(1, 0, -7, 0));
        p.setBrush(kSun);
        p.setPen(Qt::NoPen);
        p.drawEllipse(QPointF(icon.left() + 8, icon.center().y() + 1), 1.2, 1.2);
        p.setPen(QPen(kBrick, 2.4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.drawLine(QPointF(icon.left() + 8, icon.center().y()), QPointF(icon.right() + 1, icon.center().y()));
        p.drawLine(QPointF(icon.right() + 1, icon.center().y()),
                   QPointF(icon.right() - 3, icon.center().y() - 4));
        p.drawLine(QPointF(icon.right() + 1, icon.center().y()),
                   QPointF(icon.right() - 3, icon.center().y() + 4));
    } else {
        // An "i" in a blue disc.
        QRadialGradient disc(icon.center() - QPointF(3, 3), 12);
        disc.setColorAt(0, QColor(130, 190, 245));
        disc.setColorAt(1, QColor(30, 90, 180));
        p.setBrush(disc);
        p.setPen(QPen(QColor(20, 60, 130), 1));
        p.drawEllipse(icon);
        p.setPen(Qt::NoPen);
        p.setBrush(Qt::white);
        p.drawEllipse(QPointF(icon.center().x(), icon.top() + 4.8), 1.7, 1.7);
        p.drawRoundedRect(QRectF(icon.center().x() - 1.6, icon.top() + 7.5, 3.2, 7.5), 1, 1);
    }

    QFont font(QStringLiteral("DejaVu Sans"));
    font.setBold(true);
    font.setPixelSize(13);
    p.setFont(font);
    p.setPen(QColor(255, 255, 255, pressed ? 60 : 150));
    const QRectF text = QRectF(30, 0, 66, 30).translated(shift);
    p.drawText(text.translated(0, 1), Qt::AlignCenter, word);
    p.setPen(QColor(70, 30, 16));
    p.drawText(text, Qt::AlignCenter, word);
    return img;
}

QImage webGlyph() {
    QImage img = canvas(24, 25);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    drawGlobe(p, QRectF(1.5, 2, 21, 21), 1);
    // A hand-pointer arrow on the globe: the link is clicked.
    QPolygonF arrow;
    arrow << QPointF(13, 12) << QPointF(13, 23.5) << QPointF(15.8, 20.8) << QPointF(17.8, 24.5)
          << QPointF(19.6, 23.6) << QPointF(17.7, 20) << QPointF(21.5, 19.8);
    p.setPen(QPen(Qt::black, 1, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::white);
    p.drawPolygon(arrow);
    return img;
}

QImage okGlyph() {
    QImage img = canvas(18, 18);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    QPainterPath tick;
    tick.moveTo(2.5, 9.5);
    tick.lineTo(7, 14.5);
    tick.lineTo(15.5, 3.5);
    p.setPen(QPen(QColor(20, 90, 20), 4.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPath(tick);
    p.setPen(QPen(QColor(60, 180, 60), 2.4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPath(tick);
    return img;
}

QImage windowIcon() {
    QImage img = canvas(64, 64);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient g(0, 0, 0, 64);
    g.setColorAt(0, kBrick.lighter(120));
    g.setColorAt(1, kBrick.darker(120));
    p.setBrush(g);
    p.setPen(QPen(kBrown, 1.5));
    p.drawRoundedRect(QRectF(2, 2, 60, 60), 12, 12);
    p.setBrush(QColor(252, 250, 246));
    p.setPen(QPen(kBrown, 1.2));
    p.drawRect(QRectF(11, 14, 42, 36));
    const QRectF photo(16, 19, 32, 26);
    p.save();
    p.setClipRect(photo);
    drawLandscape(p, photo);
    p.restore();
    p.setPen(QPen(QColor(176, 62, 44, 220), 1.2, Qt::DashLine));
    p.drawLine(QPointF(32, 19), QPointF(32, 45));
    p.drawLine(QPointF(16, 32), QPointF(48, 32));
    return img;
}

} // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    const QDir out(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("."));
    bool ok = true;
    auto save = [&](const QImage& img, const QString& name) { ok = img.save(out.filePath(name)) && ok; };
    for (int i = 0; i < 8; ++i)
        save(tabIcon(i), QStringLiteral("tab%1.png").arg(i));
    save(sidePicture(drawFolder, false), QStringLiteral("side-openfile.png"));
    save(sidePicture(drawGlobe, false), QStringLiteral("side-website.png"));
    save(sidePicture(drawSizeFrame, true), QStringLiteral("side-size.png"));
    save(sidePicture(drawStar, false), QStringLiteral("side-quality.png"));
    save(sidePicture(drawDisk, false), QStringLiteral("side-save.png"));
    save(imageButton(QStringLiteral("About"), false, false), QStringLiteral("about.png"));
    save(imageButton(QStringLiteral("About"), false, true), QStringLiteral("about-down.png"));
    save(imageButton(QStringLiteral("Exit"), true, false), QStringLiteral("exit.png"));
    save(imageButton(QStringLiteral("Exit"), true, true), QStringLiteral("exit-down.png"));
    save(webGlyph(), QStringLiteral("www.png"));
    save(okGlyph(), QStringLiteral("ok.png"));
    save(windowIcon(), QStringLiteral("velmora.png"));
    if (!ok) std::fprintf(stderr, "could not write the pictures\n");
    return ok ? 0 : 1;
}
