// The owners and selection guards: each gives its handle back exactly once, a moved-from one
// gives back nothing, and a guard leaves the DC with what it had, however the scope ends. The
// fixture checks that no object of any kind outlives a test.
#include "platform/gdi/GdiOwners.h"

#include "GdiTestSupport.h"
#include "platform/gdi/GdiQt.h"

#include <QWidget>
#include <stdexcept>

namespace gdi_test {
namespace {

using GdiOwnersTest = GdiTest;

int liveOfKind(int kind) {
    const auto counts = gdi::testing::LiveObjects();
    switch (kind) {
    case 0:
        return counts.bitmaps;
    case 1:
        return counts.palettes;
    case 2:
        return counts.brushes;
    default:
        return counts.pens;
    }
}

HBITMAP makeBitmap() {
    TestDib header(4, 3, 24);
    void* bits = nullptr;
    return CreateDIBSection(nullptr, header.info(), DIB_RGB_COLORS, &bits, nullptr, 0);
}

HPALETTE makePalette() {
    LOGPALETTE lp{0x300, 1, {{7, 8, 9, 0}}};
    return CreatePalette(&lp);
}

// What an owner of each kind is checked for: the object lives while one owner holds it, and a
// moved-from owner that goes does not delete what it handed on.
template <class Handle> void checkOwner(int kind, Handle (*make)()) {
    const int start = liveOfKind(kind);
    {
        ObjectOwner<Handle> first(make());
        ASSERT_TRUE(first);
        EXPECT_EQ(liveOfKind(kind), start + 1);
        const Handle handle = first.get();

        ObjectOwner<Handle> second(std::move(first));
        EXPECT_FALSE(first) << "a moved-from owner is empty";
        EXPECT_EQ(second.get(), handle);
        {
            ObjectOwner<Handle> gone(std::move(second));
            EXPECT_EQ(gone.get(), handle);
        }
        EXPECT_EQ(liveOfKind(kind), start) << "deleted when the last owner went";
        EXPECT_FALSE(second);

        // Assigning over an owner deletes what it held; the source then holds nothing.
        ObjectOwner<Handle> target(make());
        ObjectOwner<Handle> source(make());
        EXPECT_EQ(liveOfKind(kind), start + 2);
        target = std::move(source);
        EXPECT_EQ(liveOfKind(kind), start + 1);
        EXPECT_FALSE(source);

        // release() hands the object on: the owner then deletes nothing.
        const Handle released = target.release();
        EXPECT_FALSE(target);
        EXPECT_EQ(liveOfKind(kind), start + 1);
        EXPECT_TRUE(DeleteObject(released)) << "still alive after the owner let go";

        ObjectOwner<Handle> reset(make());
        reset.reset(make());
        EXPECT_EQ(liveOfKind(kind), start + 1) << "reset deletes the old object";
    }
    EXPECT_EQ(liveOfKind(kind), start);
}

TEST_F(GdiOwnersTest, ObjectOwnersDeleteOnceAndMovesLeaveTheSourceEmpty) {
    {
        SCOPED_TRACE("bitmap");
        checkOwner<HBITMAP>(0, makeBitmap);
    }
    {
        SCOPED_TRACE("palette");
        checkOwner<HPALETTE>(1, makePalette);
    }
    {
        SCOPED_TRACE("brush");
        checkOwner<HBRUSH>(2, [] { return CreateSolidBrush(RGB(1, 2, 3)); });
    }
    {
        SCOPED_TRACE("pen");
        checkOwner<HPEN>(3, [] { return CreatePen(PS_SOLID, 1, RGB(4, 5, 6)); });
    }
}

TEST_F(GdiOwnersTest, DcOwnersGiveTheirDcBackOnce) {
    const int start = gdi::testing::LiveObjects().dcs;
    auto dcs = [] { return gdi::testing::LiveObjects().dcs; };
    {
        DcOwner memory(CreateCompatibleDC(nullptr));
        ASSERT_TRUE(memory);
        DcOwner moved(std::move(memory));
        EXPECT_FALSE(memory);
        EXPECT_EQ(dcs(), start + 1);
        moved = DcOwner(CreateCompatibleDC(nullptr));
        EXPECT_EQ(dcs(), start + 1) << "assigning deletes the DC held before";
    }
    EXPECT_EQ(dcs(), start);

    // The desktop's DC and a widget's DC go back to the window they came from; a DC given back
    // to another window would stay alive.
    QWidget widget;
    widget.resize(20, 10);
    widget.show();
    for (const HWND window : {HWND(nullptr), WindowFromWidget(&widget)}) {
        {
            WindowDcOwner dc(window);
            ASSERT_TRUE(dc);
            EXPECT_EQ(dc.window(), window);
            WindowDcOwner moved(std::move(dc));
            EXPECT_FALSE(dc);
            EXPECT_EQ(moved.window(), window);
            EXPECT_EQ(dcs(), start + 1);
        }
        EXPECT_EQ(dcs(), start);
        WindowDcOwner handedOn(window);
        const HDC dc = handedOn.release();
        EXPECT_FALSE(handedOn);
        EXPECT_EQ(dcs(), start + 1);
        EXPECT_EQ(ReleaseDC(window, dc), 1) << "still alive after the owner let go";
    }
}

// The DC's current bitmap, brush or pen, read by selecting the probe and putting it back.
HGDIOBJ current(HDC dc, HBRUSH probe) {
    const HGDIOBJ was = SelectObject(dc, probe);
    SelectObject(dc, was);
    return was;
}

TEST_F(GdiOwnersTest, SelectionIsPutBackOnEveryPath) {
    const BrushOwner probe(CreateSolidBrush(RGB(9, 9, 9)));
    enum class Path { ScopeEnds, Throws, MovedOn, RestoredEarly };
    for (const Path path : {Path::ScopeEnds, Path::Throws, Path::MovedOn, Path::RestoredEarly}) {
        SCOPED_TRACE(int(path));
        // Made in this order, so the selection goes first, then the DC, then the brush.
        const BrushOwner brush(CreateSolidBrush(RGB(1, 2, 3)));
        const DcOwner dc(CreateCompatibleDC(nullptr));
        const HGDIOBJ original = current(dc.get(), probe.get());
        ASSERT_NE(original, nullptr);
        try {
            SelectionGuard selection(dc.get(), brush.get());
            ASSERT_TRUE(selection.selected());
            EXPECT_EQ(selection.previous(), original);
            EXPECT_EQ(ToBrush(current(dc.get(), probe.get())), brush.get());
            if (path == Path::Throws) throw std::runtime_error("drawing failed");
            if (path == Path::MovedOn) {
                SelectionGuard later(std::move(selection));
                EXPECT_FALSE(selection.selected());
                EXPECT_EQ(ToBrush(current(dc.get(), probe.get())), brush.get())
                    << "the moved-from guard put nothing back";
            }
            if (path == Path::RestoredEarly) {
                selection.restore();
                EXPECT_EQ(current(dc.get(), probe.get()), original);
                // Something selected after the early restore stays: the guard puts back once.
                SelectObject(dc.get(), probe.get());
            }
        } catch (const std::runtime_error&) {
        }
        if (path == Path::RestoredEarly) {
            EXPECT_EQ(ToBrush(current(dc.get(), probe.get())), probe.get());
            SelectObject(dc.get(), original);
        } else {
            EXPECT_EQ(current(dc.get(), probe.get()), original);
        }
    }
}

// A bitmap in a memory DC, as Render's strips and DrawDib's last fallback hold one: owners made
// in order leave nothing behind, whichever step fails.
TEST_F(GdiOwnersTest, BitmapInAMemoryDcLeavesNothingWhicheverStepFails) {
    using gdi::testing::Call;
    struct Case {
        const char* what;
        bool failBitmap, failDc;
    } const cases[] = {{"all made", false, false}, {"no bitmap", true, false}, {"no DC", false, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const auto before = gdi::testing::LiveObjects();
        {
            gdi::testing::FailureScope failures;
            if (c.failBitmap) gdi::testing::FailNthCall(Call::CreateDIBSection);
            if (c.failDc) gdi::testing::FailNthCall(Call::CreateCompatibleDC);
            const BitmapOwner bitmap(makeBitmap());
            const DcOwner dc(CreateCompatibleDC(nullptr));
            const SelectionGuard selection(dc.get(), bitmap.get());
            EXPECT_EQ(bool(bitmap), !c.failBitmap);
            EXPECT_EQ(bool(dc), !c.failDc);
            EXPECT_EQ(selection.selected(), !c.failBitmap && !c.failDc);
            if (selection.selected()) {
                EXPECT_FALSE(DeleteObject(bitmap.get())) << "held by the DC until the guard goes";
            }
        }
        const auto after = gdi::testing::LiveObjects();
        EXPECT_EQ(after.bitmaps, before.bitmaps);
        EXPECT_EQ(after.dcs, before.dcs);
    }
}

TEST_F(GdiOwnersTest, PaletteSelectionPutsBackTheDcsPalette) {
    const PaletteOwner mine(makePalette());
    const PaletteOwner other(makePalette());
    QImage image(2, 2, QImage::Format_RGB32);
    const DcOwner dc(CreateImageDC(&image));
    const HPALETTE original = SelectPalette(dc.get(), mine.get(), FALSE);
    ASSERT_NE(original, nullptr);
    {
        PaletteSelection outer(dc.get(), other.get());
        EXPECT_EQ(outer.previous(), mine.get());
        {
            // Nested as DrawDib nests the halftone method's selection in its own.
            const PaletteSelection inner(dc.get(), other.get());
            EXPECT_EQ(inner.previous(), other.get());
        }
        PaletteSelection moved(std::move(outer));
        EXPECT_FALSE(outer.selected());
        EXPECT_FALSE(DeleteObject(other.get())) << "still selected until the last guard goes";
    }
    EXPECT_EQ(SelectPalette(dc.get(), original, FALSE), mine.get()) << "the DC has its palette back";

    // A palette that cannot be selected leaves nothing to put back.
    const PaletteSelection stale(dc.get(), reinterpret_cast<HPALETTE>(&image));
    EXPECT_FALSE(stale.selected());
}

} // namespace
} // namespace gdi_test
