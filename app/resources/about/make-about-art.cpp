// Draws the About dialog's artwork: the product picture and the two button glyphs. Run once
// after a change and commit the PNGs it writes; the program itself only loads them:
//   c++ -std=c++20 -fPIC make-about-art.cpp $(pkg-config --cflags --libs Qt6Gui) -o /tmp/make-about-art
//   QT_QPA_PLATFORM=offscreen /tmp/make-about-art app/resources/about
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <cstdio>

namespace {

void drawLandscape(QPainter& p, const QRectF& r) {
    QLinearGradient sky(r.topLeft(), r.bottomLeft());
    sky.setColorAt(0, QColor(92, 160, 220));
    sky.setColorAt(1, QColor(190, 224, 245));
    p.fillRect(r, sky);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 206, 84));
    const qreal sun = r.height() * 0.22;
    p.drawEllipse(QPointF(r.left() + r.width() * 0.74, r.top() + r.height() * 0.3), sun, sun);
    QPainterPath far;
    far.moveTo(r.left(), r.bottom());
    far.lineTo(r.left(), r.top() + r.height() * 0.62);
    far.lineTo(r.left() + r.width() * 0.3, r.top() + r.height() * 0.32);
    far.lineTo(r.left() + r.width() * 0.55, r.top() + r.height() * 0.6);
    far.lineTo(r.right(), r.top() + r.height() * 0.45);
    far.lineTo(r.right(), r.bottom());
    far.closeSubpath();
    p.setBrush(QColor(70, 120, 96));
    p.drawPath(far);
    QPainterPath near;
    near.moveTo(r.left(), r.bottom());
    near.lineTo(r.left(), r.top() + r.height() * 0.82);
    near.quadTo(r.center().x(), r.top() + r.height() * 0.62, r.right(), r.top() + r.height() * 0.8);
    near.lineTo(r.right(), r.bottom());
    near.closeSubpath();
    p.setBrush(QColor(48, 92, 70));
    p.drawPath(near);
}

void drawShadow(QPainter& p, const QRectF& r, qreal radius) {
    for (int i = 6; i >= 1; --i) {
        p.setBrush(QColor(60, 30, 10, 14));
        p.setPen(Qt::NoPen);
        p.drawRoundedRect(r.translated(i * 0.8, i * 1.1).adjusted(-i * 0.5, -i * 0.5, i * 0.5, i * 0.5),
                          radius + i, radius + i);
    }
}

QImage productPicture() {
    QImage img(612, 644, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(2, 2); // drawn at twice the size the dialog shows it, so the stretch only shrinks

    // The browser window with a page in it.
    const QRectF browser(14, 18, 236, 196);
    drawShadow(p, browser, 8);
    p.setPen(QPen(QColor(120, 84, 60), 1.2));
    p.setBrush(Qt::white);
    p.drawRoundedRect(browser, 8, 8);
    QPainterPath bar;
    bar.addRoundedRect(QRectF(browser.left(), browser.top(), browser.width(), 26), 8, 8);
    bar.addRect(QRectF(browser.left(), browser.top() + 14, browser.width(), 12));
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(226, 222, 216));
    p.drawPath(bar.simplified());
    const QColor dots[] = {QColor(232, 96, 84), QColor(240, 190, 70), QColor(110, 190, 90)};
    for (int i = 0; i < 3; ++i) {
        p.setBrush(dots[i]);
        p.drawEllipse(QPointF(browser.left() + 12 + i * 11, browser.top() + 13), 3.6, 3.6);
    }
    p.setBrush(Qt::white);
    p.drawRoundedRect(QRectF(browser.left() + 50, browser.top() + 6, browser.width() - 62, 14), 7, 7);

    const QRectF page(browser.left() + 10, browser.top() + 34, browser.width() - 20, browser.height() - 44);
    p.setBrush(QColor(176, 62, 44));
    p.drawRect(QRectF(page.left(), page.top(), page.width(), 16));
    drawLandscape(p, QRectF(page.left(), page.top() + 22, page.width() * 0.56, 74));
    p.setBrush(QColor(180, 180, 186));
    for (int i = 0; i < 5; ++i)
        p.drawRoundedRect(QRectF(page.left() + page.width() * 0.6, page.top() + 24 + i * 14,
                                 page.width() * (i % 2 ? 0.3 : 0.38), 6),
                          3, 3);
    for (int i = 0; i < 3; ++i)
        p.drawRoundedRect(
            QRectF(page.left(), page.top() + 106 + i * 14, page.width() * (i == 2 ? 0.6 : 0.95), 6), 3, 3);

    // The pieces the page is captured in: dashed cuts across the page.
    QPen cut(QColor(176, 62, 44, 200), 1.1, Qt::DashLine);
    p.setPen(cut);
    p.setBrush(Qt::NoBrush);
    for (int i = 1; i < 3; ++i)
        p.drawLine(QPointF(page.left(), page.top() + page.height() * i / 3),
                   QPointF(page.right(), page.top() + page.height() * i / 3));
    p.drawLine(QPointF(page.center().x(), page.top()), QPointF(page.center().x(), page.bottom()));

    // The finished picture, framed, in front.
    const QRectF frame(112, 150, 172, 132);
    drawShadow(p, frame, 3);
    p.setPen(QPen(QColor(90, 60, 40), 1.2));
    p.setBrush(QColor(252, 250, 246));
    p.drawRoundedRect(frame, 3, 3);
    const QRectF photo = frame.adjusted(9, 9, -9, -9);
    drawLandscape(p, photo);
    p.setPen(QPen(QColor(90, 60, 40, 160), 0.8));
    p.setBrush(Qt::NoBrush);
    p.drawRect(photo);

    // The arrow from page to picture.
    p.setPen(QPen(QColor(176, 62, 44), 5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    QPainterPath arrow;
    arrow.moveTo(60, 232);
    arrow.quadTo(66, 266, 100, 270);
    p.drawPath(arrow);
    p.setBrush(QColor(176, 62, 44));
    p.setPen(Qt::NoPen);
    QPolygonF head;
    head << QPointF(110, 270) << QPointF(96, 261) << QPointF(97, 279);
    p.drawPolygon(head);

    // Name plate.
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setBold(true);
    font.setPixelSize(24);
    p.setFont(font);
    p.setPen(QColor(60, 34, 20));
    p.drawText(QRectF(0, 286, 300, 30), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("  Velmora 1.1"));
    return img;
}

QImage globeGlyph() {
    QImage img(18, 18, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    QRadialGradient fill(QPointF(7, 6), 10);
    fill.setColorAt(0, QColor(140, 200, 250));
    fill.setColorAt(1, QColor(30, 100, 190));
    p.setBrush(fill);
    p.setPen(QPen(QColor(20, 60, 130), 1));
    const QRectF ball(1.5, 1.5, 15, 15);
    p.drawEllipse(ball);
    p.setPen(QPen(QColor(235, 245, 255, 220), 0.9));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(QRectF(5.5, 1.5, 7, 15));
    p.drawLine(QPointF(9, 1.5), QPointF(9, 16.5));
    p.drawLine(QPointF(1.5, 9), QPointF(16.5, 9));
    p.drawLine(QPointF(3, 5.5), QPointF(15, 5.5));
    p.drawLine(QPointF(3, 12.5), QPointF(15, 12.5));
    return img;
}

QImage okGlyph() {
    QImage img(18, 18, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    QPainterPath tick;
    tick.moveTo(2.5, 9.5);
    tick.lineTo(7, 14.5);
    tick.lineTo(15.5, 3.5);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(20, 90, 20), 4.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPath(tick);
    p.setPen(QPen(QColor(60, 180, 60), 2.4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPath(tick);
    return img;
}

} // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    const QDir out(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("."));
    const bool ok = productPicture().save(out.filePath(QStringLiteral("product.png"))) &&
                    globeGlyph().save(out.filePath(QStringLiteral("globe.png"))) &&
                    okGlyph().save(out.filePath(QStringLiteral("ok.png")));
    if (!ok) std::fprintf(stderr, "could not write the pictures\n");
    return ok ? 0 : 1;
}
