// Move-only owners for what the raster layer hands out, and guards that put back what a DC had
// selected. Each gives its handle back exactly once: when it goes, at reset(), or never when
// release() hands the handle on; a moved-from owner holds nothing.
//
// Declare them in the order the things are made. They then go in the reverse order, which is
// the order the layer needs: a selection is put back before its DC is deleted, and a bitmap,
// palette, brush or pen is deleted only after every DC that held it has let go (DeleteObject
// refuses an object that is still selected, and the object would be lost).
#pragma once

#include "platform/gdi/Gdi.h"

#include <cassert>
#include <utility>

namespace gdi {

// A bitmap, palette, brush or pen, deleted with DeleteObject.
template <class Handle> class ObjectOwner {
  public:
    ObjectOwner() noexcept = default;
    explicit ObjectOwner(Handle handle) noexcept : m_handle(handle) {}
    ~ObjectOwner() { reset(); }
    ObjectOwner(ObjectOwner&& other) noexcept : m_handle(std::exchange(other.m_handle, nullptr)) {}
    ObjectOwner& operator=(ObjectOwner&& other) noexcept {
        if (this != &other) reset(std::exchange(other.m_handle, nullptr));
        return *this;
    }
    ObjectOwner(const ObjectOwner&) = delete;
    ObjectOwner& operator=(const ObjectOwner&) = delete;

    Handle get() const noexcept { return m_handle; }
    explicit operator bool() const noexcept { return m_handle != nullptr; }
    // Hands the object on; the caller deletes it.
    Handle release() noexcept { return std::exchange(m_handle, nullptr); }
    // Deletes the object held, then holds handle.
    void reset(Handle handle = nullptr) noexcept {
        const Handle old = std::exchange(m_handle, handle);
        if (!old) return;
        [[maybe_unused]] const BOOL deleted = DeleteObject(old);
        assert(deleted && "an object is deleted while a DC still holds it");
    }

  private:
    Handle m_handle = nullptr;
};

using BitmapOwner = ObjectOwner<HBITMAP>;
using PaletteOwner = ObjectOwner<HPALETTE>;
using BrushOwner = ObjectOwner<HBRUSH>;
using PenOwner = ObjectOwner<HPEN>;

// A DC made by CreateCompatibleDC, CreateImageDC or CreatePrinterDC, freed with DeleteDC.
class DcOwner {
  public:
    DcOwner() noexcept = default;
    explicit DcOwner(HDC dc) noexcept : m_dc(dc) {}
    ~DcOwner() { reset(); }
    DcOwner(DcOwner&& other) noexcept : m_dc(std::exchange(other.m_dc, nullptr)) {}
    DcOwner& operator=(DcOwner&& other) noexcept {
        if (this != &other) reset(std::exchange(other.m_dc, nullptr));
        return *this;
    }
    DcOwner(const DcOwner&) = delete;
    DcOwner& operator=(const DcOwner&) = delete;

    HDC get() const noexcept { return m_dc; }
    explicit operator bool() const noexcept { return m_dc != nullptr; }
    HDC release() noexcept { return std::exchange(m_dc, nullptr); }
    void reset(HDC dc = nullptr) noexcept {
        const HDC old = std::exchange(m_dc, dc);
        if (!old) return;
        [[maybe_unused]] const BOOL deleted = DeleteDC(old);
        assert(deleted && "DeleteDC takes the DCs that CreateCompatibleDC and its kin make");
    }

  private:
    HDC m_dc = nullptr;
};

// A DC from GetDC, given back to its window with ReleaseDC. A null window is the desktop.
class WindowDcOwner {
  public:
    WindowDcOwner() noexcept = default;
    // GetDC(window); empty when the window has no DC to give.
    explicit WindowDcOwner(HWND window) : m_window(window), m_dc(GetDC(window)) {}
    // Takes a DC that GetDC(window) gave.
    WindowDcOwner(HWND window, HDC dc) noexcept : m_window(window), m_dc(dc) {}
    ~WindowDcOwner() { reset(); }
    WindowDcOwner(WindowDcOwner&& other) noexcept
        : m_window(std::exchange(other.m_window, nullptr)), m_dc(std::exchange(other.m_dc, nullptr)) {}
    WindowDcOwner& operator=(WindowDcOwner&& other) noexcept {
        if (this != &other) {
            reset();
            m_window = std::exchange(other.m_window, nullptr);
            m_dc = std::exchange(other.m_dc, nullptr);
        }
        return *this;
    }
    WindowDcOwner(const WindowDcOwner&) = delete;
    WindowDcOwner& operator=(const WindowDcOwner&) = delete;

    HDC get() const noexcept { return m_dc; }
    HWND window() const noexcept { return m_window; }
    explicit operator bool() const noexcept { return m_dc != nullptr; }
    // Hands the DC on; the caller gives it back with ReleaseDC(window(), dc).
    HDC release() noexcept { return std::exchange(m_dc, nullptr); }
    // ReleaseDC now. What was drawn shows at once: ReleaseDC repaints the window.
    void reset() noexcept {
        const HDC old = std::exchange(m_dc, nullptr);
        if (!old) return;
        [[maybe_unused]] const int released = ReleaseDC(m_window, old);
        assert(released && "ReleaseDC takes a DC back to the window that GetDC gave it for");
    }

  private:
    HWND m_window = nullptr;
    HDC m_dc = nullptr;
};

// Selects a bitmap, brush or pen into a DC and puts back what the DC had when it goes. When the
// selection fails (a bitmap held by another DC, a stale handle) there is nothing to put back.
class SelectionGuard {
  public:
    SelectionGuard() noexcept = default;
    SelectionGuard(HDC dc, HBITMAP object) : m_dc(dc), m_previous(SelectObject(dc, object)) {}
    SelectionGuard(HDC dc, HBRUSH object) : m_dc(dc), m_previous(SelectObject(dc, object)) {}
    SelectionGuard(HDC dc, HPEN object) : m_dc(dc), m_previous(SelectObject(dc, object)) {}
    ~SelectionGuard() { restore(); }
    SelectionGuard(SelectionGuard&& other) noexcept
        : m_dc(std::exchange(other.m_dc, nullptr)), m_previous(std::exchange(other.m_previous, nullptr)) {}
    SelectionGuard& operator=(SelectionGuard&& other) noexcept {
        if (this != &other) {
            restore();
            m_dc = std::exchange(other.m_dc, nullptr);
            m_previous = std::exchange(other.m_previous, nullptr);
        }
        return *this;
    }
    SelectionGuard(const SelectionGuard&) = delete;
    SelectionGuard& operator=(const SelectionGuard&) = delete;

    // Whether the object went in: only then is something put back.
    bool selected() const noexcept { return m_previous != nullptr; }
    HGDIOBJ previous() const noexcept { return m_previous; }
    // Puts back what the DC had now, instead of when the guard goes.
    void restore() noexcept {
        const HGDIOBJ previous = std::exchange(m_previous, nullptr);
        if (previous) SelectObject(m_dc, previous);
        m_dc = nullptr;
    }

  private:
    HDC m_dc = nullptr;
    HGDIOBJ m_previous = nullptr;
};

// SelectPalette with the palette the DC had put back (in the foreground) when it goes; the
// caller realises the palette it selected as it needs to.
class PaletteSelection {
  public:
    PaletteSelection() noexcept = default;
    PaletteSelection(HDC dc, HPALETTE palette, BOOL forceBackground = FALSE)
        : m_dc(dc), m_previous(SelectPalette(dc, palette, forceBackground)) {}
    ~PaletteSelection() { restore(); }
    PaletteSelection(PaletteSelection&& other) noexcept
        : m_dc(std::exchange(other.m_dc, nullptr)), m_previous(std::exchange(other.m_previous, nullptr)) {}
    PaletteSelection& operator=(PaletteSelection&& other) noexcept {
        if (this != &other) {
            restore();
            m_dc = std::exchange(other.m_dc, nullptr);
            m_previous = std::exchange(other.m_previous, nullptr);
        }
        return *this;
    }
    PaletteSelection(const PaletteSelection&) = delete;
    PaletteSelection& operator=(const PaletteSelection&) = delete;

    bool selected() const noexcept { return m_previous != nullptr; }
    HPALETTE previous() const noexcept { return m_previous; }
    void restore() noexcept {
        const HPALETTE previous = std::exchange(m_previous, nullptr);
        if (previous) SelectPalette(m_dc, previous, FALSE);
        m_dc = nullptr;
    }

  private:
    HDC m_dc = nullptr;
    HPALETTE m_previous = nullptr;
};

} // namespace gdi
