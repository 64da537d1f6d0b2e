// An off-screen drawing surface for one paint: everything drawn on it lands
// in a bitmap of the painted area, which reaches the target in one block copy
// when the surface is destroyed. On a printing target it draws straight
// through instead.
#pragma once

#include <windows.h>

#include "framework/Gdi.h"

class CMemDC : public CDC {
  public:
    // pArea is in the target's logical coordinates; null means the target's
    // clip box. The target must outlive the surface.
    CMemDC(CDC* pTargetDC, const RECT* pArea);
    // Draws on pSurface, a memory context whose selected bitmap covers the
    // area in device units, instead of a bitmap of its own, so that what was
    // drawn stays there. The area starts as the surface holds it, not
    // cleared. The surface's mapping (mode and window origin) is set to the
    // target's here and put back when this is destroyed; whatever else is
    // selected or set on it, the drawer puts back. On a printing target, or
    // without a surface, it draws straight through.
    CMemDC(CDC* pTargetDC, const RECT* pArea, CDC* pSurface);
    ~CMemDC() override;

    // False when it draws straight onto the target (printing, or no memory).
    BOOL IsOffscreen() const { return m_bOffscreen; }

  protected:
    CBitmap m_bmpOffscreen;
    CBitmap* m_pPrevBitmap;
    CDC* m_pTargetDC;
    RECT m_rcArea;
    BOOL m_bOffscreen;

  private:
    BOOL BeginOffscreen();
    void DrawStraight();
    void PrepareArea(const RECT* pArea);

    BOOL m_bLent;  // drawing on a borrowed surface
    int m_nLentMapMode;
    POINT m_ptLentOrg;
};
