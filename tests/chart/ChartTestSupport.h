// Shared fixtures of the chart tests: exact-format drawing targets, a GDI
// handle counter that works under Wine, and a live chart on a real window.
#pragma once

#include <windows.h>

#include <vector>

#include "chart/MultiColorPlotCtrl.h"

// A memory context holding a top-down 32-bit DIB section: GetPixel gives
// back exactly the colours drawn.
class DibTarget {
  public:
    DibTarget(int nWidth, int nHeight, COLORREF crFill = RGB(0, 0, 0));
    ~DibTarget();
    HDC hdc() const { return m_hDC; }
    CDC* dc() const { return CDC::FromHandle(m_hDC); }
    COLORREF Pixel(int x, int y) const { return ::GetPixel(m_hDC, x, y); }
    // Columns or rows of the given colour along a row or column.
    std::vector<int> ColumnsOf(int y, COLORREF cr) const;
    std::vector<int> RowsOf(int x, COLORREF cr) const;
    int CountOf(COLORREF cr) const;
    bool SamePixels(const DibTarget& other) const;

    const int m_nWidth, m_nHeight;

  private:
    HDC m_hDC;
    HBITMAP m_hBitmap;
    HGDIOBJ m_hOldBitmap;
    DWORD* m_pBits;
};

// Free slots of the process's GDI handle table: pens are made until GDI
// refuses, counted and deleted. GetGuiResources is a stub under Wine.
int FreeGdiSlots();

// Fills the GDI handle table, leaving nKeepFree slots; the destructor
// releases everything.
class GdiExhauster {
  public:
    explicit GdiExhauster(int nKeepFree);
    ~GdiExhauster();

  private:
    std::vector<HGDIOBJ> m_objects;
};

// Opens the chart's internals to the tests.
class TestPlot : public CMultiColorPlotCtrl {
  public:
    using CMultiColorPlotCtrl::DrawCaption;
    using CMultiColorPlotCtrl::DrawCurve;
    using CMultiColorPlotCtrl::DrawGrid;
    using CMultiColorPlotCtrl::m_bFixedRange;
    using CMultiColorPlotCtrl::m_crGrid;
    using CMultiColorPlotCtrl::m_fontCaption;
    using CMultiColorPlotCtrl::m_fRangeMax;
    using CMultiColorPlotCtrl::m_fRangeMin;
    using CMultiColorPlotCtrl::m_nCaptionMode;
    using CMultiColorPlotCtrl::m_nClientHeight;
    using CMultiColorPlotCtrl::m_nClientWidth;
    using CMultiColorPlotCtrl::m_nGridOffsetX;
    using CMultiColorPlotCtrl::m_nGridOffsetY;
    using CMultiColorPlotCtrl::m_nGridStepX;
    using CMultiColorPlotCtrl::m_nGridStepY;
    using CMultiColorPlotCtrl::m_nPointCount;
    using CMultiColorPlotCtrl::m_nPointSpacing;
    using CMultiColorPlotCtrl::m_pValues;
    using CMultiColorPlotCtrl::m_szTitle;
    using CMultiColorPlotCtrl::m_szUnit;
    using CMultiColorPlotCtrl::ValueToRow;

    // One frame's layers drawn onto pDC, as a paint draws them.
    void DrawLayers(CDC* pDC) {
        DrawGrid(pDC);
        DrawCurve(pDC);
        DrawCaption(pDC);
    }
};

// A borderless static control of the given client size on a visible popup,
// bound to a TestPlot.
class LivePlot {
  public:
    LivePlot(int nWidth, int nHeight);
    ~LivePlot();
    TestPlot plot;
    HWND hStatic() const { return m_hStatic; }
    // Paints now, through WM_PAINT.
    void Paint();

  private:
    HWND m_hHost;
    HWND m_hStatic;
};

// Runs fn on another thread; true if it finishes within the bound.
bool FinishesOnOtherThread(void (*fn)(TestPlot*), TestPlot* pPlot);

// Dispatches this thread's messages until done() holds or the bound passes.
template <class Pred>
bool PumpUntil(Pred done, DWORD dwBoundMs = 10000) {
    DWORD dwStart = ::GetTickCount();
    while (!done()) {
        if (::GetTickCount() - dwStart > dwBoundMs) return false;
        MSG msg;
        while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageA(&msg);
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    }
    return true;
}
