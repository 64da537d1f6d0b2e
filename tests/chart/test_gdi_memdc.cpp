// The GDI wrappers and the off-screen surface, checked on memory contexts of
// known format and through the process's free GDI handle slots.
#include <gtest/gtest.h>

#include "ChartTestSupport.h"
#include "chart/MemDC.h"

namespace {

const COLORREF kBack = RGB(10, 20, 30);
const COLORREF kOld = RGB(200, 200, 200);
const COLORREF kInk = RGB(255, 0, 0);

class MemDCProbe : public CMemDC {
  public:
    using CMemDC::CMemDC;
    using CMemDC::m_bOffscreen;
    using CMemDC::m_rcArea;
    SIZE BitmapSize() const {
        BITMAP bm = {};
        ::GetObjectA(::GetCurrentObject(m_hDC, OBJ_BITMAP), sizeof(bm), &bm);
        return {bm.bmWidth, bm.bmHeight};
    }
};

int BitsOf(HBITMAP hBitmap) {
    BITMAP bm = {};
    ::GetObjectA(hBitmap, sizeof(bm), &bm);
    return bm.bmBitsPixel;
}

TEST(GdiCounter, FreeSlotCountCatchesAFewLeakedObjects) {
    int nBefore = FreeGdiSlots();
    HGDIOBJ leaked[3] = {::CreateSolidBrush(kInk), ::CreatePen(PS_SOLID, 1, kInk),
                         ::CreateCompatibleDC(nullptr)};
    EXPECT_EQ(nBefore - 3, FreeGdiSlots());
    ::DeleteObject(leaked[0]);
    ::DeleteObject(leaked[1]);
    ::DeleteDC(static_cast<HDC>(leaked[2]));
    EXPECT_EQ(nBefore, FreeGdiSlots());
}

TEST(GdiWrappers, OwnershipAttachAndSelectionLeaveNoHandleOrWrapperBehind) {
    DibTarget target(8, 8);
    CDC* pDC = target.dc();
    int nFree = FreeGdiSlots();
    size_t nTemps = CGdiObject::GetTemporaryCount();
    for (int i = 0; i < 500; ++i) {
        CPen pen;
        pen.CreatePen(PS_SOLID, 1, kInk);
        pen.Attach(::CreatePen(PS_SOLID, 2, kInk));  // releases the first pen
        CPen* pOld = pDC->SelectObject(&pen);
        // Selecting back hands out a wrapper of the pen; deleting the pen drops it.
        EXPECT_EQ(pen.m_hObject, pDC->SelectObject(pOld)->m_hObject);
        EXPECT_EQ(pOld, CPen::FromHandle(static_cast<HPEN>(pOld->m_hObject)));
    }
    EXPECT_EQ(nFree, FreeGdiSlots());
    EXPECT_EQ(nTemps, CGdiObject::GetTemporaryCount());
}

TEST(GdiWrappers, CompatibleBitmapTakesTheTargetsFormat) {
    HWND hWnd = ::CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                  nullptr, nullptr);
    HDC hScreen = ::GetDC(hWnd);
    CBitmap screenBitmap;
    ASSERT_TRUE(screenBitmap.CreateCompatibleBitmap(CDC::FromHandle(hScreen), 30, 20));
    EXPECT_EQ(::GetDeviceCaps(hScreen, BITSPIXEL), BitsOf(screenBitmap));
    ::ReleaseDC(hWnd, hScreen);
    ::DestroyWindow(hWnd);

    // A fresh memory context holds a one-bit bitmap, so its compatible bitmap
    // is monochrome; one holding a 32-bit DIB gives 32-bit bitmaps.
    CDC memDC;
    memDC.CreateCompatibleDC(nullptr);
    CBitmap mono;
    mono.CreateCompatibleBitmap(&memDC, 30, 20);
    EXPECT_EQ(1, BitsOf(mono));
    DibTarget target(4, 4);
    CBitmap deep;
    deep.CreateCompatibleBitmap(target.dc(), 30, 20);
    EXPECT_EQ(32, BitsOf(deep));
}

TEST(MemDC, OffscreenSurfaceReachesTheTargetOnlyWhenDestroyedAtItsArea) {
    DibTarget target(40, 30, kOld);
    ::SetBkColor(target.hdc(), kBack);
    RECT rcArea = {5, 4, 25, 20};
    auto* pSurface = new MemDCProbe(target.dc(), &rcArea);
    EXPECT_TRUE(pSurface->m_bOffscreen);
    EXPECT_EQ(20, pSurface->BitmapSize().cx);
    EXPECT_EQ(16, pSurface->BitmapSize().cy);
    // Logical (5, 4) is the bitmap's first pixel.
    pSurface->FillSolidRect(5, 4, 1, 1, kInk);
    EXPECT_EQ(kInk, ::GetPixel(pSurface->m_hDC, 5, 4));
    EXPECT_EQ(kOld, target.Pixel(5, 4));
    delete pSurface;

    EXPECT_EQ(kInk, target.Pixel(5, 4));
    EXPECT_EQ(kBack, target.Pixel(6, 4));
    EXPECT_EQ(kBack, target.Pixel(24, 19));
    EXPECT_EQ(kOld, target.Pixel(4, 4));
    EXPECT_EQ(kOld, target.Pixel(25, 19));
    EXPECT_EQ(kOld, target.Pixel(24, 20));
}

TEST(MemDC, NullAreaIsTheTargetsClipBox) {
    DibTarget target(40, 30, kOld);
    ::SetBkColor(target.hdc(), kBack);
    ::IntersectClipRect(target.hdc(), 10, 12, 30, 18);
    {
        MemDCProbe surface(target.dc(), nullptr);
        EXPECT_EQ(10, surface.m_rcArea.left);
        EXPECT_EQ(12, surface.m_rcArea.top);
        EXPECT_EQ(30, surface.m_rcArea.right);
        EXPECT_EQ(18, surface.m_rcArea.bottom);
        EXPECT_EQ(20, surface.BitmapSize().cx);
    }
    ::SelectClipRgn(target.hdc(), nullptr);
    EXPECT_EQ(kBack, target.Pixel(10, 12));
    EXPECT_EQ(kOld, target.Pixel(9, 12));
}

TEST(MemDC, SurfaceFreesItsContextAndBitmapAfterPuttingTheOldBitmapBack) {
    DibTarget target(40, 30);
    RECT rcArea = {0, 0, 40, 30};
    int nFree = FreeGdiSlots();
    for (int i = 0; i < 50; ++i) {
        CMemDC surface(target.dc(), &rcArea);
        surface.FillSolidRect(1, 1, 3, 3, kInk);
    }
    // A bitmap still selected when it is deleted stays alive: a slot would be lost.
    EXPECT_EQ(nFree, FreeGdiSlots());
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

TEST(MemDC, OutOfHandlesDrawsStraightOntoTheTarget) {
    DibTarget target(40, 30, kOld);
    RECT rcArea = {0, 0, 40, 30};
    // No slot at all, then one slot: a context but no bitmap.
    for (int nKeepFree : {0, 1}) {
        GdiExhauster full(nKeepFree);
        MemDCProbe surface(target.dc(), &rcArea);
        EXPECT_FALSE(surface.m_bOffscreen);
        surface.FillSolidRect(7, 7, 1, 1, kInk);
        EXPECT_EQ(kInk, target.Pixel(7, 7));
        ::SetPixelV(target.hdc(), 7, 7, kOld);
    }
    EXPECT_EQ(static_cast<DWORD>(OBJ_MEMDC), ::GetObjectType(target.hdc()));
}

}  // namespace
