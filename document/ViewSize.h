// The sizing rule of the browser view and the preview rectangle of the "Size" page.
#pragma once

#include "platform/gdi/Gdi.h"

#include <optional>

class TWebBrowser;

namespace document {

// The smallest width or height an edit applies to the view.
constexpr double kMinViewExtent = 10;

// The extent a value of the width or height edit gives the view: the value truncated toward
// zero. None when the value is below 10 (the view keeps that dimension), and none when it lies
// beyond maxExtent, which the view would refuse: such a value can only be typed, and the edit
// brings it back into its range when it loses the focus.
std::optional<int> viewExtentFor(double value, int maxExtent);

// Applies the sizing rule: the width from widthValue first, then the height from heightValue.
void applyViewSize(TWebBrowser& web, double widthValue, double heightValue);
void applyViewWidth(TWebBrowser& web, double widthValue);
void applyViewHeight(TWebBrowser& web, double heightValue);

// The largest rectangle of the view's aspect (up to truncation) that fits a paint box of
// pw x ph, at the box's top-left corner. Empty (all zero) when the view has no area. The
// products are formed in 64 bits: a tall view in a wide box must not overflow.
gdi::RECT previewRect(int pw, int ph, int vw, int vh);

} // namespace document
