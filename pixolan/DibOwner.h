// A move-only owner of a DIB made by newdib or a halftone call: deldib runs once, when the
// owner goes or at reset(), unless release() hands the record on. A moved-from owner is empty.
#pragma once

#include "pixolan/Pixolan.h"

#include <cstring>
#include <utility>

namespace pixolan {

class DibOwner {
  public:
    DibOwner() noexcept { clear(m_rec); }
    // Takes a record that newdib or a halftone call filled.
    explicit DibOwner(const DibRecord& rec) noexcept : m_rec(rec) {}
    ~DibOwner() { deldib(m_rec); }
    DibOwner(DibOwner&& other) noexcept : m_rec(other.m_rec) { clear(other.m_rec); }
    DibOwner& operator=(DibOwner&& other) noexcept {
        if (this != &other) {
            reset(other.m_rec);
            clear(other.m_rec);
        }
        return *this;
    }
    DibOwner(const DibOwner&) = delete;
    DibOwner& operator=(const DibOwner&) = delete;

    // Where newdib or a halftone call writes the new record; the picture held until now goes
    // first.
    DibRecord* out() noexcept {
        reset();
        return &m_rec;
    }
    const DibRecord& get() const noexcept { return m_rec; }
    // Empty: no pixels, as after a failed newdib.
    bool empty() const noexcept { return m_rec.bits == nullptr; }
    explicit operator bool() const noexcept { return !empty(); }
    // Hands the record on; the caller frees it with deldib.
    DibRecord release() noexcept {
        const DibRecord rec = m_rec;
        clear(m_rec);
        return rec;
    }
    // Frees the picture held, then holds rec.
    void reset(const DibRecord& rec) noexcept {
        const DibRecord old = m_rec;
        m_rec = rec;
        deldib(old);
    }
    void reset() noexcept {
        DibRecord none;
        clear(none);
        reset(none);
    }

  private:
    static void clear(DibRecord& rec) noexcept { std::memset(&rec, 0, sizeof rec); }

    DibRecord m_rec;
};

} // namespace pixolan
