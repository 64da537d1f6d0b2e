// The framework's GDI and window wrappers and the off-screen surface, on
// memory contexts of known format and through the process's free GDI handle
// slots.
#include <gtest/gtest.h>

#include "ChartTestSupport.h"
#include "chart/MemDC.h"

// The framework's idle-point clean-up of temporary window wrappers.
void AfxDeleteTempWndMap();

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

int BitsOf(HGDIOBJ hBitmap) {
    BITMAP bm = {};
    ::GetObjectA(hBitmap, sizeof(bm), &bm);
    return bm.bmBitsPixel;
}

TEST(GdiCounter, FreeSlotCountCatchesAFewLeakedObjects) {
    int nBefore = FreeGdiSlots();
    HBRUSH hBrush = ::CreateSolidBrush(kInk);
    HPEN hPen = ::CreatePen(PS_SOLID, 1, kInk);
    HDC hDC = ::CreateCompatibleDC(nullptr);
    EXPECT_EQ(nBefore - 3, FreeGdiSlots());
    ::DeleteObject(hBrush);
    ::DeleteObject(hPen);
    ::DeleteDC(hDC);
    EXPECT_EQ(nBefore, FreeGdiSlots());
}

TEST(GdiWrappers, SelectionHandsOutReusedWrappersAndLeavesNothingBehind) {
    DibTarget target(8, 8);
    CDC* pDC = target.dc();
    // The context's stock pen gets its wrapper at its first selection in the
    // process and keeps it: stock objects never die.
    CPen::FromHandle(static_cast<HPEN>(::GetStockObject(BLACK_PEN)));
    int nFree = FreeGdiSlots();
    size_t nTemps = CGdiObject::GetTemporaryCount();
    for (int i = 0; i < 500; ++i) {
        CPen pen;
        pen.CreatePen(PS_SOLID, 1, kInk);
        pen.Attach(::CreatePen(PS_SOLID, 2, kInk));  // releases the first pen
        CPen* pOld = pDC->SelectObject(&pen);
        EXPECT_EQ(pen.m_hObject, pDC->SelectObject(pOld)->m_hObject);
        EXPECT_EQ(pOld, CPen::FromHandle(static_cast<HPEN>(pOld->m_hObject)));
    }
    EXPECT_EQ(nFree, FreeGdiSlots());
    EXPECT_GE(nTemps, CGdiObject::GetTemporaryCount());
}

// Off-screen surfaces on a window of their own, each with a pen selected in
// and out: every table and recycler of the wrappers is used on every turn.
DWORD WINAPI DrawSurfacesOnWindow(LPVOID pWnd) {
    HWND hWnd = static_cast<HWND>(pWnd);
    CDC windowDC;
    windowDC.Attach(::GetDC(hWnd));
    RECT rcArea = {0, 0, 40, 30};
    for (int i = 0; i < 5000; ++i) {
        CMemDC surface(&windowDC, &rcArea);
        CPen pen;
        pen.CreatePen(PS_SOLID, 1, kInk);
        surface.SelectObject(surface.SelectObject(&pen));
    }
    ::ReleaseDC(hWnd, windowDC.Detach());
    return 0;
}

bool DrawOnTwoThreadsAtOnce(HWND (&hWnds)[2]) {
    HANDLE hThreads[2];
    for (int i = 0; i < 2; ++i) {
        hThreads[i] = ::CreateThread(nullptr, 0, &DrawSurfacesOnWindow, hWnds[i], 0, nullptr);
    }
    bool bDone = ::WaitForMultipleObjects(2, hThreads, TRUE, 60000) == WAIT_OBJECT_0;
    for (HANDLE hThread : hThreads) ::CloseHandle(hThread);
    return bDone;
}

TEST(GdiWrappers, TwoThreadsDrawingAtOnceKeepTheTablesWhole) {
    HWND hWnds[2];
    for (HWND& hWnd : hWnds) {
        hWnd = ::CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 40, 30, nullptr, nullptr, nullptr,
                                 nullptr);
    }
    // The first run leaves the recyclers' spares, the stock objects' wrappers
    // and the system's cache of window contexts for two threads at once.
    ASSERT_TRUE(DrawOnTwoThreadsAtOnce(hWnds));
    int nFree = FreeGdiSlots();
    size_t nTemps = CGdiObject::GetTemporaryCount();
    ASSERT_TRUE(DrawOnTwoThreadsAtOnce(hWnds));
    EXPECT_EQ(nFree, FreeGdiSlots());
    // Wrappers of handles that other tests deleted directly may be swept out.
    EXPECT_GE(nTemps, CGdiObject::GetTemporaryCount());
    for (HWND hWnd : hWnds) ::DestroyWindow(hWnd);
}

// Asks for a temporary wrapper, then reaches this thread's idle point.
DWORD WINAPI WrapWindowAndIdle(LPVOID hWnd) {
    CWnd* pTheirs = CWnd::FromHandle(static_cast<HWND>(hWnd));
    AfxDeleteTempWndMap();
    return static_cast<DWORD>(reinterpret_cast<UINT_PTR>(pTheirs));
}

TEST(WndWrappers, AnotherThreadsIdlePointLeavesThisThreadsTemporaryWrapper) {
    HWND hWnd = ::CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 9, 9, nullptr, nullptr, nullptr,
                                  nullptr);
    CWnd* pMine = CWnd::FromHandle(hWnd);
    DWORD dwTheirs = RunOnOtherThread(&WrapWindowAndIdle, hWnd);
    ASSERT_NE(reinterpret_cast<UINT_PTR>(pMine), dwTheirs);
    EXPECT_EQ(pMine, CWnd::FromHandle(hWnd));
    EXPECT_EQ(hWnd, pMine->m_hWnd);
    ::DestroyWindow(hWnd);
}

TEST(GdiWrappers, CompatibleBitmapTakesTheTargetsFormat) {
    HWND hWnd = ::CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 9, 9, nullptr, nullptr, nullptr,
                                  nullptr);
    HDC hScreen = ::GetDC(hWnd);
    for (int i = 0; i < 2; ++i) {  // the second one is recycled
        CBitmap bitmap;
        ASSERT_TRUE(bitmap.CreateCompatibleBitmap(CDC::FromHandle(hScreen), 30, 20));
        EXPECT_EQ(::GetDeviceCaps(hScreen, BITSPIXEL), BitsOf(bitmap));
    }
    ::ReleaseDC(hWnd, hScreen);
    ::DestroyWindow(hWnd);

    // A fresh memory context holds a one-bit bitmap, so its compatible
    // bitmaps are monochrome.
    CDC memDC;
    memDC.CreateCompatibleDC(nullptr);
    CBitmap mono, deep;
    mono.CreateCompatibleBitmap(&memDC, 30, 20);
    EXPECT_EQ(1, BitsOf(mono));
    DibTarget target(4, 4);
    deep.CreateCompatibleBitmap(target.dc(), 30, 20);
    EXPECT_EQ(32, BitsOf(deep));
}

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
