// Render: turns what the browser view shows into one 24-bit picture, piece by piece.
//
// The output is cut into strips of at most 500 rows and each strip into columns of at most 500
// pixels. For every piece the whole view is drawn, scaled to the output size and shifted so that
// the piece lands at the strip bitmap's left edge, read back with GetDIBits and copied into the
// output picture. Small pieces keep every engine capture and every buffer small, whatever the
// size of the picture.
#pragma once

#include "pixolan/Pixolan.h"
#include "platform/gdi/Gdi.h"

#include <cstdint>
#include <stdexcept>
#include <string>

namespace capture {

constexpr int kPieceSize = 500;
constexpr long long kMaxSide = 10000;

// What Render needs from its surroundings: the window in the program, a plain host in the
// command-line tool and in tests.
class RenderHost {
  public:
    virtual ~RenderHost() = default;
    // Draws the whole view scaled into bounds on dc (only what falls inside dc's clip box
    // matters). False when the view could not draw at all (its engine is gone).
    virtual bool drawView(gdi::HDC dc, const gdi::RECT& bounds) = 0;
    // Why the last drawView failed, in words for the user.
    virtual std::string drawFailure() const { return "the browser engine stopped."; }
    // The device context GetDIBits reads through, and its release.
    virtual gdi::HDC acquireReadDC() = 0;
    virtual void releaseReadDC(gdi::HDC dc) = 0;
    virtual void setProStatus(int percent) = 0;
    // One of Render's own messages, shown with the caption "Error", a stop icon and OK.
    virtual void showError(const char* text) = 0;
    // The picture's rows from the top down to (not including) rows are drawn and stay as they
    // are: a host may take them (to encode a file, say) while the rest is drawn. Called after
    // each strip with the picture being made, which lives until Render returns.
    virtual void rowsDrawn(const DibRecord& picture, int rows) {
        (void)picture;
        (void)rows;
    }
};

struct RenderSettings {
    long long viewWidth = 0;  // Vw
    long long viewHeight = 0; // Vh
    long long quality = 100;  // q, output size in percent of the view
};

// W and H: the view's size times q percent, truncated toward zero, in 64 bits.
long long outputWidth(const RenderSettings& s);
long long outputHeight(const RenderSettings& s);

// Thrown when the view cannot draw (its engine died mid-run); the run made nothing that
// outlives it, and the previous picture stays.
class RenderError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

enum class RenderOutcome {
    Done,     // mainDib holds the new picture; the old one was freed
    TooLarge, // both sides above the limit: refused, nothing made
    NoMemory, // the output picture could not be made
    Failed,   // a strip could not be made or read; everything freed
};

// Runs a capture. On success the previous *mainDib is freed with deldib and replaced.
RenderOutcome Render(const RenderSettings& settings, RenderHost& host, DibRecord* mainDib);

} // namespace capture
