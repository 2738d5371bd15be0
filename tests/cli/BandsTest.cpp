// Large pictures of a page of coloured bands, by the real velmora-capture: no part of the
// picture may come out white (the page has no white anywhere), and every band must sit at its
// own rows, so that a strip left blank, shifted or taken from elsewhere is caught.
#include "app/cli/CaptureOptions.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

const QString kProgram = QStringLiteral(VELMORA_CAPTURE_PATH);

using Rgb = std::array<int, 3>;

// Band i's hsl(): 36 hues 10 degrees apart (neighbours 130 degrees apart), then 6
// saturations, at 20 % lightness. No two of the first 216 bands are alike, any two differ by at
// least 5 steps in some channel, and no channel passes 218, so any 255 in the picture is not
// the page's.
struct Hsl {
    int hue, saturation, lightness;
};

Hsl bandColour(int band) {
    return {band * 13 % 36 * 10, 40 + band / 36 % 6 * 10, 20};
}

// CSS's hsl-to-rgb, rounded to the nearest step.
Rgb fromHsl(double hue, double saturation, double lightness) {
    const double s = saturation / 100.0, l = lightness / 100.0;
    auto channel = [&](double n) {
        const double k = std::fmod(n + hue / 30.0, 12.0);
        const double a = s * std::min(l, 1.0 - l);
        return int(std::lround(255.0 * (l - a * std::max(-1.0, std::min({k - 3.0, 9.0 - k, 1.0})))));
    };
    return {channel(0), channel(8), channel(4)};
}

QByteArray bandPage(int bands) {
    // The background is grey, so that where the bands are not drawn the picture is neither white
    // nor a band's colour.
    QByteArray html = "<!doctype html><html style='background:hsl(0,0%,30%)'><body style='margin:0'>";
    for (int i = 0; i < bands; ++i) {
        const Hsl c = bandColour(i);
        html += QStringLiteral("<div style='height:100px;background:hsl(%1,%2%,%3%)'></div>")
                    .arg(c.hue)
                    .arg(c.saturation)
                    .arg(c.lightness)
                    .toUtf8();
    }
    return html + "</body></html>";
}

// A BMP pixel (blue, green, red) within 2 steps of c in every channel.
bool nearBgr(const unsigned char* p, const Rgb& c) {
    return std::abs(p[2] - c[0]) <= 2 && std::abs(p[1] - c[1]) <= 2 && std::abs(p[0] - c[2]) <= 2;
}

std::uint32_t le32(const char* p) {
    const auto* u = reinterpret_cast<const unsigned char*>(p);
    return std::uint32_t(u[0]) | std::uint32_t(u[1]) << 8 | std::uint32_t(u[2]) << 16 |
           std::uint32_t(u[3]) << 24;
}

// What a BMP of the band page holds, read in pieces of rows: a picture of half a gigabyte
// needs a few megabytes here.
struct BandScan {
    std::string error; // empty when the file could be read
    int width = 0, height = 0;
    std::int64_t white = 0;                // pixels FF FF FF
    std::int64_t offColour = 0;            // pixels more than 2 steps from their band's colour
    std::int64_t background = 0;           // of those, the html background's: no band drawn there
    std::vector<std::string> firstOffRows; // a few of them: row, found and expected colour
};

BandScan unreadable(const char* why) {
    BandScan scan;
    scan.error = why;
    return scan;
}

BandScan scanBands(const QString& path, int bands) {
    BandScan scan;
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return unreadable("cannot be opened");
    const QByteArray header = f.read(54);
    if (header.size() < 54 || !header.startsWith("BM")) return unreadable("not a BMP");
    const std::int64_t width = std::int32_t(le32(header.constData() + 18));
    const std::int64_t rawHeight = std::int32_t(le32(header.constData() + 22));
    if ((header[28] | header[29] << 8) != 24 || le32(header.constData() + 30) != 0 || width <= 0 ||
        rawHeight == 0)
        return unreadable("not a 24-bit BMP");
    scan.width = int(width);
    scan.height = int(std::abs(rawHeight));
    const std::int64_t height = scan.height;
    if (height % bands != 0) return unreadable("the picture is not a whole number of band rows tall");
    const std::int64_t bandRows = height / bands;
    const std::int64_t stride = (width * 3 + 3) & ~std::int64_t(3);
    if (!f.seek(le32(header.constData() + 10))) return unreadable("cut short");

    const Rgb backdrop = fromHsl(0, 0, 30);
    std::vector<Rgb> colours;
    for (int i = 0; i < bands; ++i)
        colours.push_back(fromHsl(bandColour(i).hue, bandColour(i).saturation, bandColour(i).lightness));
    const std::int64_t rowsPerRead = std::max<std::int64_t>(1, (16 << 20) / stride);
    QByteArray chunk;
    for (std::int64_t fileRow = 0; fileRow < height; fileRow += rowsPerRead) {
        const std::int64_t rows = std::min(rowsPerRead, height - fileRow);
        chunk = f.read(rows * stride);
        if (chunk.size() != rows * stride) return unreadable("cut short");
        for (std::int64_t r = 0; r < rows; ++r) {
            const std::int64_t y = rawHeight > 0 ? height - 1 - (fileRow + r) : fileRow + r;
            const Rgb& want = colours[std::size_t(y / bandRows)];
            const auto* p = reinterpret_cast<const unsigned char*>(chunk.constData() + r * stride);
            std::int64_t rowOff = 0;
            Rgb found{};
            for (std::int64_t x = 0; x < width; ++x, p += 3) {
                if ((p[0] & p[1] & p[2]) == 0xFF) ++scan.white;
                if (!nearBgr(p, want)) {
                    if (!rowOff++) found = {p[2], p[1], p[0]};
                    if (nearBgr(p, backdrop)) ++scan.background;
                }
            }
            scan.offColour += rowOff;
            if (rowOff && scan.firstOffRows.size() < 5)
                scan.firstOffRows.push_back("row " + std::to_string(y) + ": " + std::to_string(rowOff) +
                                            " pixels off, such as rgb(" + std::to_string(found[0]) + "," +
                                            std::to_string(found[1]) + "," + std::to_string(found[2]) +
                                            ") for rgb(" + std::to_string(want[0]) + "," +
                                            std::to_string(want[1]) + "," + std::to_string(want[2]) + ")");
        }
    }
    return scan;
}

// A view of 200 million pixels, beyond what the engine rasters at once when it is shown whole:
// parts of the picture would come out as the bare page background, with status 0, in other
// places from run to run.
TEST(Bands, ALargePictureHoldsEveryBandAndNoWhite) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "a picture of 200 million pixels takes minutes under AddressSanitizer; the release "
                    "build runs this test";
#endif
    struct Case {
        QStringList options;
        int bands; // the page is exactly as tall as the view
        int width, height;
    } const cases[] = {
        {{"--width", "10000", "--height", "20000"}, 200, 10000, 20000},
    };
    QTemporaryDir dir(QDir::tempPath() + QStringLiteral("/velmora-bands-XXXXXX"));
    ASSERT_TRUE(dir.isValid());
    const QString page = dir.filePath(QStringLiteral("bands.html"));
    for (const Case& c : cases) {
        const std::string label = c.options.join(' ').toStdString();
        SCOPED_TRACE(label);
        {
            QFile f(page);
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
            ASSERT_EQ(f.write(bandPage(c.bands)), bandPage(c.bands).size());
        }
        const QString picture = dir.filePath(QStringLiteral("bands.bmp"));
        QFile::remove(picture);
        QProcess p;
        QElapsedTimer clock;
        clock.start();
        p.start(kProgram,
                QStringList{"--quiet", "--timeout", "240"} + c.options + QStringList{page, picture});
        ASSERT_TRUE(p.waitForFinished(300000)) << "velmora-capture did not end within 300 s";
        ASSERT_EQ(p.exitStatus(), QProcess::NormalExit);
        ASSERT_EQ(p.exitCode(), app::cli::ExitOk) << p.readAllStandardError().toStdString();
        std::printf("[          ] %s: %lld ms\n", label.c_str(), (long long)clock.elapsed());

        const BandScan scan = scanBands(picture, c.bands);
        ASSERT_EQ(scan.error, "");
        EXPECT_EQ(scan.width, c.width);
        EXPECT_EQ(scan.height, c.height);
        EXPECT_EQ(scan.white, 0) << "white pixels in a picture of a page without white";
        EXPECT_EQ(scan.offColour, 0) << [&] {
            std::string rows =
                std::to_string(scan.background) + " of them the page's background, where no band was drawn:";
            for (const std::string& row : scan.firstOffRows)
                rows += "\n  " + row;
            return rows;
        }();
        QFile::remove(picture);
    }
}

} // namespace
