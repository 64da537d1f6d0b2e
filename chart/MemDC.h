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
};
