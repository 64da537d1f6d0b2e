// The off-screen surface on memory contexts of known format and through the
// process's free GDI handle slots.
#include <gtest/gtest.h>

#include "chart/MemDC.h"
#include "tests/common/GdiTarget.h"

namespace {

const COLORREF kBack = RGB(10, 20, 30);
const COLORREF kOld = RGB(200, 200, 200);
const COLORREF kInk = RGB(255, 0, 0);

class MemDCProbe : public CMemDC {
  public:
    using CMemDC::CMemDC;
    using CMemDC::m_bOffscreen;
    using CMemDC::m_rcArea;
};

TEST(MemDC, OffscreenSurfaceReachesTheTargetOnlyWhenDestroyedAtItsArea) {
    DibTarget target(40, 30, kOld);
    ::SetBkColor(target.hdc(), kBack);
    RECT rcArea = {5, 4, 25, 20};
    auto* pSurface = new MemDCProbe(target.dc(), &rcArea);
    EXPECT_TRUE(pSurface->m_bOffscreen);
    BITMAP bm = {};
    ::GetObjectA(::GetCurrentObject(pSurface->m_hDC, OBJ_BITMAP), sizeof(bm), &bm);
    EXPECT_EQ(20, bm.bmWidth);
    EXPECT_EQ(16, bm.bmHeight);
    pSurface->FillSolidRect(5, 4, 1, 1, kInk);  // the bitmap's first pixel
    EXPECT_EQ(kOld, target.Pixel(5, 4));
    delete pSurface;

    EXPECT_EQ(kInk, target.Pixel(5, 4));
    EXPECT_EQ(kBack, target.Pixel(6, 4));
    EXPECT_EQ(kBack, target.Pixel(24, 19));
    for (POINT pt : {POINT{4, 4}, POINT{25, 19}, POINT{24, 20}}) {
        EXPECT_EQ(kOld, target.Pixel(pt.x, pt.y));
    }
}

TEST(MemDC, LentSurfaceKeepsTheDrawingAndGetsItsMappingBack) {
    DibTarget target(40, 30, kOld);
    DibTarget lender(20, 16, kBack);
    ::SetMapMode(lender.hdc(), MM_LOMETRIC);
    RECT rcArea = {5, 4, 25, 20};
    int nFree = FreeGdiSlots();
    {
        MemDCProbe surface(target.dc(), &rcArea, lender.dc());
        EXPECT_TRUE(surface.m_bOffscreen);
        EXPECT_EQ(MM_TEXT, surface.GetMapMode());
        surface.FillSolidRect(5, 4, 1, 1, kInk);  // the area's first pixel
        EXPECT_EQ(kOld, target.Pixel(5, 4));
    }
    EXPECT_EQ(nFree, FreeGdiSlots());
    EXPECT_EQ(kInk, target.Pixel(5, 4));
    EXPECT_EQ(kBack, target.Pixel(24, 19));  // the lender's pixels, not cleared
    EXPECT_EQ(kOld, target.Pixel(4, 4));
    EXPECT_EQ(MM_LOMETRIC, ::GetMapMode(lender.hdc()));
    POINT ptOrg = {-1, -1};
    ::GetWindowOrgEx(lender.hdc(), &ptOrg);
    EXPECT_EQ(0, ptOrg.x);
    EXPECT_EQ(0, ptOrg.y);
    ::SetMapMode(lender.hdc(), MM_TEXT);
    EXPECT_EQ(kInk, lender.Pixel(0, 0));
}

TEST(MemDC, NullAreaIsTheTargetsClipBox) {
    DibTarget target(40, 30, kOld);
    ::IntersectClipRect(target.hdc(), 10, 12, 30, 18);
    MemDCProbe surface(target.dc(), nullptr);
    RECT rcExpected = {10, 12, 30, 18};
    EXPECT_TRUE(::EqualRect(&rcExpected, &surface.m_rcArea));
}

TEST(MemDC, PrintingTargetIsDrawnOnDirectlyAndKeepsItsContext) {
    DibTarget target(40, 30, kOld);
    ::SetBkColor(target.hdc(), kBack);
    CDC printer;
    printer.Attach(target.hdc());
    printer.m_bPrinting = TRUE;
    RECT rcArea = {2, 2, 20, 20};
    int nFree = FreeGdiSlots();
    {
        MemDCProbe surface(&printer, &rcArea);
        EXPECT_FALSE(surface.m_bOffscreen);
        EXPECT_TRUE(surface.IsPrinting());
        EXPECT_EQ(nFree, FreeGdiSlots());
        EXPECT_EQ(kBack, target.Pixel(3, 3));
        surface.FillSolidRect(5, 5, 1, 1, kInk);
        EXPECT_EQ(kInk, target.Pixel(5, 5));
    }
    EXPECT_EQ(static_cast<DWORD>(OBJ_MEMDC), ::GetObjectType(target.hdc()));
    EXPECT_EQ(kOld, target.Pixel(1, 1));
    printer.Detach();
}

TEST(MemDC, WithoutHandlesForContextOrBitmapItDrawsOnTheTarget) {
    DibTarget target(40, 30, kOld);
    RECT rcArea = {0, 0, 40, 30};
    for (int nKeepFree : {0, 1}) {  // one slot: a context but no bitmap
        GdiExhauster full(nKeepFree);
        MemDCProbe surface(target.dc(), &rcArea);
        EXPECT_FALSE(surface.m_bOffscreen);
        surface.FillSolidRect(7, 7, 1, 1, kInk);
        EXPECT_EQ(kInk, target.Pixel(7, 7));
        ::SetPixelV(target.hdc(), 7, 7, kOld);
    }
}

}  // namespace
