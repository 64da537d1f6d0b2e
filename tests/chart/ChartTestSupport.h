// The chart opened to its tests, and a live chart on a real window.
#pragma once

#include <windows.h>

#include <vector>

#include "chart/MultiColorPlotCtrl.h"
#include "tests/common/GdiTarget.h"

// Opens the chart's internals to the tests.
class TestPlot : public CMultiColorPlotCtrl {
  public:
    using CMultiColorPlotCtrl::DrawGrid;
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
    // Frames drawn (not copied from the kept one) so far, and of them those
    // drawn only where they changed.
    int nDrawnFrames = 0;
    int nInPlaceFrames = 0;
    // Per caption, the frames drawn in place that drew it again.
    int nCaptionRedrawsInPlace[kMaxCaptions] = {};
    // The kept frame's pixels.
    void CopyKeptFrame(const DibTarget& target) const {
        ::BitBlt(target.hdc(), 0, 0, m_nFrameWidth, m_nFrameHeight, m_dcFrame.m_hDC, 0, 0, SRCCOPY);
    }
    using CMultiColorPlotCtrl::InvalidateFrame;
    using CMultiColorPlotCtrl::InvalidateWholeFrame;
    void DrawCaption(CDC* pDC) override;
    // Its captions are the chart's own: it only counts and probes.
    bool DrawsOnlyOwnCaptions() const override { return true; }
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
    if (m_plan.bActive) ++nInPlaceFrames;
    for (int i = 0; m_plan.bActive && i < kMaxCaptions; ++i)
        nCaptionRedrawsInPlace[i] += m_plan.bCaption[i];
    if (bProbeLock)
        lockFreeAtCaption.push_back(RunOnOtherThread(&TryLockOnThread, &m_csValues) != 0);
    CMultiColorPlotCtrl::DrawCaption(pDC);
}
