#include "tests/browser/BrowserFixture.h"

#include "platform/gdi/GdiQt.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>
#include <gtest/gtest.h>

namespace browsertest {

Pages::Pages() {
    EXPECT_TRUE(m_dir.isValid());
}

QString Pages::write(const QString& name, const QByteArray& html) {
    QFile file(path(name));
    EXPECT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(html);
    return path(name);
}

QString Pages::path(const QString& name) const {
    return QDir(m_dir.path()).filePath(name);
}

Canvas::Canvas(int width, int height, QRgb fill) : m_image(width, height, QImage::Format_RGB32) {
    m_image.fill(fill);
    m_dc = gdi::CreateImageDC(&m_image);
    EXPECT_NE(m_dc, nullptr);
}

Canvas::~Canvas() {
    if (m_dc) gdi::DeleteDC(m_dc);
}

bool near(QRgb a, QRgb b, int tolerance) {
    return std::abs(qRed(a) - qRed(b)) <= tolerance && std::abs(qGreen(a) - qGreen(b)) <= tolerance &&
           std::abs(qBlue(a) - qBlue(b)) <= tolerance;
}

bool waitFor(const std::function<bool()>& done, int ms) {
    return QTest::qWaitFor(done, ms);
}

QByteArray blocksPage() {
    return "<!doctype html><html><head><style>"
           "html,body{margin:0;background:#fff} div{position:absolute}"
           "</style></head><body>"
           "<div style='left:100px;top:50px;width:200px;height:100px;background:#f00'></div>"
           "<div style='left:400px;top:300px;width:100px;height:100px;background:#00f'></div>"
           "<div style='left:700px;top:900px;width:100px;height:100px;background:#0f0'></div>"
           "<div style='left:600px;top:400px;width:1px;height:400px;background:#000'></div>"
           "</body></html>";
}

void loadAndWait(browser::BrowserView& view, const QString& address, bool reusing) {
    bool done = false;
    const QString expected = browser::BrowserView::addressToUrl(address).toString(QUrl::FullyEncoded);
    QMetaObject::Connection c = QObject::connect(&view, &browser::BrowserView::documentComplete,
                                                 [&](const QString&, const QString& url) {
                                                     if (url == expected) done = true;
                                                 });
    if (reusing)
        view.navigateReusing(address);
    else
        view.navigate(address);
    EXPECT_TRUE(waitFor([&] { return done; })) << "no document completed for " << address.toStdString();
    QObject::disconnect(c);
}

QByteArray evaluate(browser::BrowserView& view, const QString& expression) {
    const QByteArray params = QJsonDocument(QJsonObject{{"expression", expression}, {"returnByValue", true}})
                                  .toJson(QJsonDocument::Compact);
    const QByteArray result = browser::engine::rawPageCall(&view, QStringLiteral("Runtime.evaluate"), params);
    const QJsonObject object = QJsonDocument::fromJson(result).object();
    return QJsonDocument(QJsonArray{object.value("result").toObject().value("value")})
        .toJson(QJsonDocument::Compact);
}

} // namespace browsertest
