// The chart's value window, range, configuration, set-up and lifetime, on
// real static controls.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>

#include "ChartTestSupport.h"
#include "chart/Tenths.h"

namespace {

TEST(ChartSetUp, BindingSizesTheValuesShapesTheWindowAndStartsRepainting) {
    LivePlot live(350, 84);
    TestPlot& plot = live.plot;
    EXPECT_EQ(std::vector<float>(175, 0.0f), plot.Values());
    EXPECT_TRUE(::GetWindowLongA(live.hStatic(), GWL_STYLE) & SS_NOTIFY);

    HRGN hRgn = ::CreateRectRgn(0, 0, 0, 0);
    ASSERT_NE(ERROR, ::GetWindowRgn(live.hStatic(), hRgn));
    EXPECT_FALSE(::PtInRegion(hRgn, 0, 0));  // rounded corner
    EXPECT_TRUE(::PtInRegion(hRgn, 0, 40));
    // The last client column is cut off with the (absent) border.
    EXPECT_TRUE(::PtInRegion(hRgn, 348, 40));
    EXPECT_FALSE(::PtInRegion(hRgn, 349, 40));
    ::DeleteObject(hRgn);

    HDC hDC = ::GetDC(live.hStatic());
    EXPECT_EQ(TRUE,
              ::SendMessageA(live.hStatic(), WM_ERASEBKGND, reinterpret_cast<WPARAM>(hDC), 0));
    ::ReleaseDC(live.hStatic(), hDC);
    // With no append at all the timer repaints: the grid phase moves per paint.
    plot.SetGridScrollX(1);
    EXPECT_TRUE(PumpUntil([&] { return plot.m_nGridOffsetX >= 3; }));
}

TEST(ChartValues, SpacingRebuildsTheWindowAppendShiftsAndBadLimitsAreRefused) {
    LivePlot live(350, 84);
    TestPlot& plot = live.plot;
    plot.AppendValue(5.0f);
    EXPECT_TRUE(plot.SetPointSpacing(4));
    EXPECT_EQ(std::vector<float>(87, 0.0f), plot.Values());
    for (int i = 1; i <= 88; ++i) plot.AppendValue(static_cast<float>(i));
    std::vector<float> values = plot.Values();
    EXPECT_EQ(2.0f, values.front());
    EXPECT_EQ(88.0f, values.back());

    EXPECT_FALSE(plot.SetPointSpacing(0));
    EXPECT_FALSE(plot.SetPointSpacing(-3));
    plot.SetGridStepX(0);
    EXPECT_EQ(4, plot.m_nPointSpacing);
    EXPECT_EQ(10, plot.m_nGridStepX);
    EXPECT_EQ(values, plot.Values());

    // No sample slot: before set-up, or narrower than the spacing.
    TestPlot unbound;
    unbound.AppendValue(1.0f);
    LivePlot narrow(3, 40);
    narrow.plot.SetPointSpacing(4);
    EXPECT_EQ(0, narrow.plot.m_nPointCount);
    narrow.plot.AppendValue(3.0f);
    narrow.Paint();
    EXPECT_TRUE(AppendFromOtherThreadFinishes(&narrow.plot));
}

// Committed heaps whose block chains are intact: a write past an array's
// end or into a freed one breaks them.
bool HeapsAreWhole() {
    HANDLE hHeaps[64];
    DWORD nHeaps = ::GetProcessHeaps(64, hHeaps);
    for (DWORD i = 0; i < nHeaps && i < 64; ++i) {
        if (!::HeapValidate(hHeaps[i], 0, nullptr)) return false;
    }
    return nHeaps > 0;
}

struct StressRun {
    TestPlot* pPlot;
    volatile LONG bStop;
    volatile LONG nAppends;
    volatile LONG nChanges;
};

// Spacing 1 holds seven times the values of spacing 7: an append or a paint
// that mixes one spacing's array with the other's count runs off the end.
DWORD WINAPI ReconfigureUntilStopped(LPVOID pRun) {
    auto* p = static_cast<StressRun*>(pRun);
    for (LONG i = 0; !p->bStop; i = ::InterlockedIncrement(&p->nChanges)) {
        p->pPlot->SetPointSpacing(i % 2 ? 7 : 1);
        p->pPlot->SetFixedRange(false);
        p->pPlot->SetMinMax(static_cast<float>(i % 100), 5000.0f);
        if (i % 3 == 0) p->pPlot->SetValueRange(0.0f, 7000.0f);
    }
    return 0;
}

DWORD WINAPI AppendUntilStopped(LPVOID pRun) {
    auto* p = static_cast<StressRun*>(pRun);
    for (LONG i = 0; !p->bStop; i = ::InterlockedIncrement(&p->nAppends)) {
        p->pPlot->AppendValue(static_cast<float>(1 + i % 9000));
    }
    return 0;
}

TEST(ChartThreads, AppendsOnOneThreadSurviveSpacingAndRangeChangesOnAnotherAndPaints) {
    LivePlot live(458, 84);
    TestPlot& plot = live.plot;
    plot.SetCaptionMode(4);
    StressRun run = {&plot, 0, 0, 0};
    HANDLE hThreads[] = {::CreateThread(nullptr, 0, &AppendUntilStopped, &run, 0, nullptr),
                         ::CreateThread(nullptr, 0, &ReconfigureUntilStopped, &run, 0, nullptr)};
    EXPECT_TRUE(PumpUntil([&] { return run.nAppends > 0 && run.nChanges > 0; }));
    for (int nPaint = 0; nPaint < 400; ++nPaint) {
        plot.SetPlotStyle(nPaint % 2);
        live.Paint();
    }
    ::InterlockedExchange(&run.bStop, 1);
    EXPECT_EQ(WAIT_OBJECT_0, ::WaitForMultipleObjects(2, hThreads, TRUE, 60000));
    for (HANDLE hThread : hThreads) ::CloseHandle(hThread);

    EXPECT_TRUE(HeapsAreWhole());
    ASSERT_EQ(458 / plot.m_nPointSpacing, plot.m_nPointCount);
    for (float fValue : plot.Values()) {
        EXPECT_TRUE(fValue == std::floor(fValue) && fValue >= 0.0f && fValue <= 9000.0f) << fValue;
    }
}

TEST(ChartRange, FixedRangeStoresOutsidersAndOpenRangeOnlyWidens) {
    LivePlot live(100, 50);
    TestPlot& plot = live.plot;
    plot.SetValueRange(0.0f, 7000.0f);
    plot.AppendValue(8000.0f);
    EXPECT_EQ(8000.0f, plot.Values().back());
    EXPECT_EQ(7000.0f, plot.m_fRangeMax);

    plot.SetFixedRange(false);
    plot.SetMinMax(0.0f, 100.0f);
    for (float v : {100.0f, 0.0f, NAN, 150.0f, 100.0f, -5.0f, 50.0f}) plot.AppendValue(v);
    EXPECT_EQ(-5.0f, plot.m_fRangeMin);
    EXPECT_EQ(150.0f, plot.m_fRangeMax);

    plot.SetValueRange(0.0f, 10.0f);
    plot.AppendValue(20.0f);
    EXPECT_EQ(10.0f, plot.m_fRangeMax);
}

// The captions' numbers are the C library's "%8.1f", whether the chart or
// the library formats them: halves round to even, a negative value that
// rounds to zero keeps its sign, and what the chart leaves to the library
// (too large, not a number, no room) it leaves untouched.
TEST(ChartCaption, NumbersAreFormattedAsTheLibraryFormatsThem) {
    std::vector<float> values = {
        0.0f,   -0.0f,   0.05f,  -0.05f,  0.25f,     0.75f,      -0.25f,      1.25f,        2156.0f,
        -50.0f, 0.04f,   -0.04f, 99.95f,  999999.9f, 1234567.8f, 99999999.0f, 999999936.0f, 1e9f,
        -1e9f,  3.4e38f, 1e-30f, -1e-30f, NAN,       INFINITY,   -INFINITY};
    std::mt19937 random(25);
    for (int i = 0; i < 200000; ++i) {
        // Any bit pattern, and as many within a chart's usual range.
        uint32_t nBits = random();
        float fValue;
        memcpy(&fValue, &nBits, sizeof(fValue));
        values.push_back(fValue);
        values.push_back(static_cast<float>(random() % 2000000) / 20.0f - 50000.0f);
    }
    for (float fValue : values) {
        char szLibrary[64], szChart[64];
        snprintf(szLibrary, sizeof(szLibrary), "%8.1f", fValue);
        memcpy(szChart, "untouched", 10);
        if (!FormatTenths(fValue, szChart, sizeof(szChart))) {
            ASSERT_FALSE(std::fabs(fValue) < 1e9f) << szLibrary;
            ASSERT_STREQ(szChart, "untouched");
            continue;
        }
        ASSERT_STREQ(szChart, szLibrary);
    }
    char szShort[15] = "untouched";
    EXPECT_FALSE(FormatTenths(1.0f, szShort, sizeof(szShort)));
    EXPECT_STREQ(szShort, "untouched");
}

// Longer texts are cut to what the chart holds, not written past it.
TEST(ChartConfig, TitleAndUnitAreCutToTheirBuffers) {
    TestPlot plot;
    plot.SetTitle(std::string(300, 't').c_str());
    EXPECT_EQ(std::string(260, 't'), plot.m_szTitle);
    plot.SetUnit(std::string(35, 'u').c_str());
    EXPECT_EQ(std::string(34, 'u'), plot.m_szUnit);
}

TEST(ChartLifetime, PaintingAndDestroyingLeaveNoGdiObjectBehind) {
    {
        LivePlot warmUp(200, 84);  // the first window and font load stock objects
        warmUp.Paint();
    }
    int nFreeBefore = FreeGdiSlots();
    {
        LivePlot live(200, 84);
        live.plot.SetCaptionMode(4);
        // Both styles drawn first: what the chart keeps for each is made now.
        for (int i = 0; i < 10; ++i) {
            live.plot.SetPlotStyle(i % 2);
            live.Paint();
        }
        int nFreeAfter10 = FreeGdiSlots();
        size_t nTemps = CGdiObject::GetTemporaryCount();
        for (int i = 0; i < 10000; ++i) {
            live.plot.AppendValue(static_cast<float>(i % 120));
            live.plot.SetPlotStyle(i % 2);
            live.Paint();
        }
        EXPECT_EQ(nFreeAfter10, FreeGdiSlots());
        EXPECT_GE(nTemps, CGdiObject::GetTemporaryCount());
    }
    EXPECT_EQ(nFreeBefore, FreeGdiSlots());
}

}  // namespace
