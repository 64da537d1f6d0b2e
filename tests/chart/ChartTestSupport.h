// Shared fixtures of the chart tests: exact-format drawing targets, a GDI
// handle counter that works under Wine, and a live chart on a real window.
#pragma once

#include <windows.h>

#include <vector>

#include "chart/MultiColorPlotCtrl.h"

// A memory context holding a top-down 32-bit DIB: GetPixel returns exactly
// the colours drawn.
class DibTarget {
  public:
    DibTarget(int cx, int cy, COLORREF crFill = RGB(0, 0, 0)) : m_cx(cx), m_cy(cy) {
        BITMAPINFO bmi = {{sizeof(BITMAPINFOHEADER), cx, -cy, 1, 32, BI_RGB, 0, 0, 0, 0, 0}, {}};
        m_hDC = ::CreateCompatibleDC(nullptr);
        m_hBitmap = ::CreateDIBSection(m_hDC, &bmi, DIB_RGB_COLORS, &m_pBits, nullptr, 0);
        m_hOld = ::SelectObject(m_hDC, m_hBitmap);
        ::SetBkColor(m_hDC, crFill);
        RECT rc = {0, 0, cx, cy};
        ::ExtTextOutA(m_hDC, 0, 0, ETO_OPAQUE, &rc, nullptr, 0, nullptr);
    }
    ~DibTarget() {
        ::SelectObject(m_hDC, m_hOld);
        ::DeleteObject(m_hBitmap);
        ::DeleteDC(m_hDC);
    }
    HDC hdc() const { return m_hDC; }
    CDC* dc() const { return CDC::FromHandle(m_hDC); }
    COLORREF Pixel(int x, int y) const { return ::GetPixel(m_hDC, x, y); }
    std::vector<int> ColumnsOf(int y, COLORREF cr) const {
        std::vector<int> v;
        for (int x = 0; x < m_cx; ++x) {
            if (Pixel(x, y) == cr) v.push_back(x);
        }
        return v;
    }
    std::vector<int> RowsOf(int x, COLORREF cr) const {
        std::vector<int> v;
        for (int y = 0; y < m_cy; ++y) {
            if (Pixel(x, y) == cr) v.push_back(y);
        }
        return v;
    }
    int CountOf(COLORREF cr) const {
        int n = 0;
        for (int y = 0; y < m_cy; ++y) n += static_cast<int>(ColumnsOf(y, cr).size());
        return n;
    }
    bool SamePixels(const DibTarget& other) const {
        ::GdiFlush();
        const DWORD* a = static_cast<const DWORD*>(m_pBits);
        const DWORD* b = static_cast<const DWORD*>(other.m_pBits);
        return m_cx == other.m_cx && m_cy == other.m_cy &&
               std::vector<DWORD>(a, a + m_cx * m_cy) == std::vector<DWORD>(b, b + m_cx * m_cy);
    }

  private:
    int m_cx, m_cy;
    HDC m_hDC;
    HBITMAP m_hBitmap;
    HGDIOBJ m_hOld;
    void* m_pBits = nullptr;
};

// Fills the process's GDI handle table with pens, leaving nKeepFree slots.
// GetGuiResources is a stub under Wine; the table's free slots are counted
// instead.
class GdiExhauster {
  public:
    explicit GdiExhauster(int nKeepFree = 0) {
        m_pens.reserve(70000);
        while (HPEN hPen = ::CreatePen(PS_SOLID, 1, 0)) m_pens.push_back(hPen);
        for (int i = 0; i < nKeepFree && !m_pens.empty(); ++i) {
            ::DeleteObject(m_pens.back());
            m_pens.pop_back();
        }
    }
    ~GdiExhauster() {
        for (HPEN hPen : m_pens) ::DeleteObject(hPen);
    }
    int Count() const { return static_cast<int>(m_pens.size()); }

  private:
    std::vector<HPEN> m_pens;
};

inline int FreeGdiSlots() {
    return GdiExhauster().Count();
}

// Opens the chart's internals to the tests.
class TestPlot : public CMultiColorPlotCtrl {
  public:
    using CMultiColorPlotCtrl::DrawGrid;
    using CMultiColorPlotCtrl::m_bFixedRange;
    using CMultiColorPlotCtrl::m_crGrid;
    using CMultiColorPlotCtrl::m_csValues;
    using CMultiColorPlotCtrl::m_fontCaption;
    using CMultiColorPlotCtrl::m_fRangeMax;
    using CMultiColorPlotCtrl::m_fRangeMin;
    using CMultiColorPlotCtrl::m_nGridOffsetX;
    using CMultiColorPlotCtrl::m_nGridOffsetY;
    using CMultiColorPlotCtrl::m_nGridStepX;
    using CMultiColorPlotCtrl::m_nPointCount;
    using CMultiColorPlotCtrl::m_nPointSpacing;
    using CMultiColorPlotCtrl::m_pValues;
    using CMultiColorPlotCtrl::m_szTitle;
    using CMultiColorPlotCtrl::m_szUnit;
    using CMultiColorPlotCtrl::ValueToRow;

    // One frame's layers, in a paint's order.
    void DrawLayers(CDC* pDC) {
        DrawGrid(pDC);
        DrawCurve(pDC);
        DrawCaption(pDC);
    }
    std::vector<float> Values() const { return {m_pValues, m_pValues + m_nPointCount}; }
    void Fill(float fValue) {
        for (int i = 0; i < m_nPointCount; ++i) AppendValue(fValue);
    }

    // Set: every caption step first notes whether another thread could take
    // the chart's lock there, between the curve and the captions.
    bool bProbeLock = false;
    std::vector<bool> lockFreeAtCaption;
    // Frames drawn (not copied from the kept one) so far.
    int nDrawnFrames = 0;
    using CMultiColorPlotCtrl::InvalidateFrame;
    void DrawCaption(CDC* pDC) override;
};

// A borderless static of the given client size on a visible popup, bound
// to a TestPlot.
class LivePlot {
  public:
    LivePlot(int cx, int cy) {
        m_hHost = ::CreateWindowExA(WS_EX_TOOLWINDOW, "STATIC", "", WS_POPUP | WS_VISIBLE, 20, 20,
                                    cx + 40, cy + 40, nullptr, nullptr, nullptr, nullptr);
        m_hStatic = ::CreateWindowExA(0, "STATIC", "chart", WS_CHILD | WS_VISIBLE, 20, 20, cx, cy,
                                      m_hHost, nullptr, nullptr, nullptr);
        plot.SubclassWindow(m_hStatic);
    }
    ~LivePlot() { ::DestroyWindow(m_hHost); }
    HWND hStatic() const { return m_hStatic; }
    void Paint() {
        ::InvalidateRect(m_hStatic, nullptr, FALSE);
        ::UpdateWindow(m_hStatic);
    }
    TestPlot plot;

  private:
    HWND m_hHost, m_hStatic;
};

// The exit code of pfn(pArg) run on a thread of its own, or STILL_ACTIVE if
// it does not end. The bound is generous; it tells a held lock from a slow
// machine.
inline DWORD RunOnOtherThread(LPTHREAD_START_ROUTINE pfn, LPVOID pArg) {
    HANDLE hThread = ::CreateThread(nullptr, 0, pfn, pArg, 0, nullptr);
    DWORD dwExit = STILL_ACTIVE;
    if (::WaitForSingleObject(hThread, 20000) == WAIT_OBJECT_0) {
        ::GetExitCodeThread(hThread, &dwExit);
    } else {
        ::TerminateThread(hThread, STILL_ACTIVE);
    }
    ::CloseHandle(hThread);
    return dwExit;
}

// An append from another thread finishes: the chart's lock is free.
inline DWORD WINAPI AppendOnThread(LPVOID pPlot) {
    static_cast<TestPlot*>(pPlot)->AppendValue(1.0f);
    return 0;
}
inline bool AppendFromOtherThreadFinishes(TestPlot* pPlot) {
    return RunOnOtherThread(&AppendOnThread, pPlot) == 0;
}

inline DWORD WINAPI TryLockOnThread(LPVOID pSection) {
    auto* pcs = static_cast<CRITICAL_SECTION*>(pSection);
    if (!::TryEnterCriticalSection(pcs)) return 0;
    ::LeaveCriticalSection(pcs);
    return 1;
}

inline void TestPlot::DrawCaption(CDC* pDC) {
    ++nDrawnFrames;
    if (bProbeLock)
        lockFreeAtCaption.push_back(RunOnOtherThread(&TryLockOnThread, &m_csValues) != 0);
    CMultiColorPlotCtrl::DrawCaption(pDC);
}

// Dispatches this thread's messages until done() holds or the bound passes.
template <class Pred>
bool PumpUntil(Pred done, DWORD dwBoundMs = 10000) {
    for (DWORD dwStart = ::GetTickCount(); !done();) {
        if (::GetTickCount() - dwStart > dwBoundMs) return false;
        MSG msg;
        while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageA(&msg);
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    }
    return true;
}
