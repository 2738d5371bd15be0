// DrawDib costs: what a result view pays on each paint.
//
//   clipped:   a 10000 x 10000 picture drawn 1:1 into a window showing 1280 x 800 must cost about
//              what a 1280 x 800 picture costs (the cost follows what is visible);
//   unclipped: a 4000 x 3000 picture drawn 1:1 onto a 32-bit surface, against a memcpy of the
//              picture's bytes;
//   reported:  2x enlargement, 0.5x reduction and the halftone method on 4000 x 3000.
#include "bench/common/RatioReporter.h"
#include "capture/DrawDib.h"
#include "platform/gdi/GdiQt.h"

#include <QGuiApplication>
#include <QImage>
#include <benchmark/benchmark.h>
#include <cstring>
#include <memory>
#include <vector>

using namespace gdi;

namespace {

struct Picture {
    DibRecord dib{};
    Picture(int w, int h) {
        newdib(&dib, w, h, 24, nullptr, 0);
        if (!dib.bits) return;
        // A gradient, so that nothing can be skipped as uniform.
        for (int y = 0; y < h; ++y) {
            std::uint8_t* row = dib.bits + std::ptrdiff_t(y) * dib.bytesPerRow;
            for (int x = 0; x < w; ++x) {
                row[3 * x] = std::uint8_t(x);
                row[3 * x + 1] = std::uint8_t(y);
                row[3 * x + 2] = std::uint8_t(x ^ y);
            }
        }
    }
    ~Picture() { deldib(dib); }
};

struct Surface {
    QImage image;
    HDC dc;
    Surface(int w, int h) : image(w, h, QImage::Format_RGB32), dc(CreateImageDC(&image)) {}
    ~Surface() { DeleteDC(dc); }
};

void drawOneToOne(benchmark::State& state, int picW, int picH, int viewW, int viewH) {
    Picture pic(picW, picH);
    Surface window(viewW, viewH);
    for (auto _ : state) {
        capture::DrawDib(window.dc, 0, 0, picW, picH, pic.dib, 0, 0, picW, picH, true, SRCCOPY, true,
                         nullptr);
        benchmark::DoNotOptimize(window.image.constBits());
    }
}

void BM_Clipped_Picture10000InView1280x800(benchmark::State& s) {
    drawOneToOne(s, 10000, 10000, 1280, 800);
}
void BM_Clipped_Picture1280x800InView1280x800(benchmark::State& s) {
    drawOneToOne(s, 1280, 800, 1280, 800);
}
void BM_Unclipped_Picture4000x3000(benchmark::State& s) {
    drawOneToOne(s, 4000, 3000, 4000, 3000);
}

void BM_Memcpy_Picture4000x3000Bytes(benchmark::State& state) {
    Picture pic(4000, 3000);
    const std::size_t bytes = pic.dib.info->bmiHeader.biSizeImage;
    std::vector<std::uint8_t> target(bytes);
    for (auto _ : state) {
        std::memcpy(target.data(), pic.dib.bits, bytes);
        benchmark::DoNotOptimize(target.data());
        benchmark::ClobberMemory();
    }
}

void drawScaled(benchmark::State& state, int destW, int destH, int desktopBits) {
    SetDesktopBitsPerPixel(desktopBits);
    Picture pic(4000, 3000);
    Surface window(destW, destH);
    for (auto _ : state) {
        capture::DrawDib(window.dc, 0, 0, destW, destH, pic.dib, 0, 0, 4000, 3000, true, SRCCOPY, true,
                         nullptr);
        benchmark::DoNotOptimize(window.image.constBits());
    }
    SetDesktopBitsPerPixel(0);
}

void BM_Enlarge2x_4000x3000(benchmark::State& s) {
    drawScaled(s, 8000, 6000, 32);
}
void BM_Reduce05x_4000x3000(benchmark::State& s) {
    drawScaled(s, 2000, 1500, 32);
}
void BM_Halftone_4000x3000(benchmark::State& s) {
    drawScaled(s, 4000, 3000, 8);
}

} // namespace

BENCHMARK(BM_Clipped_Picture10000InView1280x800)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);
BENCHMARK(BM_Clipped_Picture1280x800InView1280x800)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);
BENCHMARK(BM_Unclipped_Picture4000x3000)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);
BENCHMARK(BM_Memcpy_Picture4000x3000Bytes)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);
BENCHMARK(BM_Enlarge2x_4000x3000)->Unit(benchmark::kMillisecond)->Repetitions(3)->ReportAggregatesOnly(true);
BENCHMARK(BM_Reduce05x_4000x3000)->Unit(benchmark::kMillisecond)->Repetitions(3)->ReportAggregatesOnly(true);
BENCHMARK(BM_Halftone_4000x3000)->Unit(benchmark::kMillisecond)->Repetitions(3)->ReportAggregatesOnly(true);

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    bench::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::printf("\nRatios, all from this run:\n");
    bool ok = reporter.ratio("clipped: 10000x10000 in 1280x800 view / 1280x800 picture",
                             "BM_Clipped_Picture10000InView1280x800",
                             "BM_Clipped_Picture1280x800InView1280x800", 1.5);
    ok &= reporter.ratio("unclipped: 4000x3000 1:1 draw / memcpy of its bytes",
                         "BM_Unclipped_Picture4000x3000", "BM_Memcpy_Picture4000x3000Bytes", 3.0);
    reporter.ratio("2x enlargement / 1:1 draw", "BM_Enlarge2x_4000x3000", "BM_Unclipped_Picture4000x3000", 0);
    reporter.ratio("0.5x reduction / 1:1 draw", "BM_Reduce05x_4000x3000", "BM_Unclipped_Picture4000x3000", 0);
    reporter.ratio("halftone 4000x3000 / 1:1 draw", "BM_Halftone_4000x3000", "BM_Unclipped_Picture4000x3000",
                   0);
    benchmark::Shutdown();
    return ok ? 0 : 1;
}
