// Rectangles of pixels drawn, as the system accumulates them on a context.
#pragma once

#include <windows.h>

// The pixels drawn on hDC since the last call, in its logical units (empty
// when none); false when the system cannot say. The accumulated bounds
// enclose every pixel the drawing affected, which is what makes them fit to
// say where a kept bitmap went stale.
inline bool TakeBounds(HDC hDC, RECT* pRect) {
    const UINT nState = ::GetBoundsRect(hDC, pRect, DCB_RESET);
    if (nState == 0) return false;
    if ((nState & DCB_SET) != DCB_SET) ::SetRectEmpty(pRect);
    return true;
}

// Clears what the context has accumulated, without reading it back.
inline void ResetBounds(HDC hDC) {
    ::SetBoundsRect(hDC, nullptr, DCB_RESET);
}

// True when the two share a pixel; empty rectangles share none.
inline bool Overlap(const RECT& a, const RECT& b) {
    RECT rcCommon;
    return ::IntersectRect(&rcCommon, &a, &b) != FALSE;
}

// True when every pixel of inner lies in outer; an empty inner always does
// (the union leaves an empty rectangle out).
inline bool Inside(const RECT& inner, const RECT& outer) {
    RECT rcUnion;
    return !::UnionRect(&rcUnion, &inner, &outer) || ::EqualRect(&rcUnion, &outer) != FALSE;
}
