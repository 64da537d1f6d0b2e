// Pixels of the chart's layers on 32-bit memory contexts of the control's
// size, and of its paints on the window.
#include <gtest/gtest.h>

#include <cmath>
#include <iterator>
#include <string>

#include "ChartTestSupport.h"

namespace {

const COLORREF kGrid = RGB(0, 125, 0);
const COLORREF kYellow = RGB(255, 255, 0);
const COLORREF kCyan = RGB(0, 255, 255);

std::vector<int> Range(int nFrom, int nTo, int nStep = 1) {
    std::vector<int> v;
    for (int i = nFrom; i <= nTo; i += nStep) v.push_back(i);
    return v;
}

// True if the chart's caption layer matches these texts drawn by TextOut
// with its font over the grid.
bool CaptionShows(TestPlot& plot, int cx, int cy,
                  std::initializer_list<std::pair<POINT, std::string>> texts) {
    DibTarget drawn(cx, cy), expected(cx, cy);
    plot.DrawLayers(drawn.dc());
    plot.DrawGrid(expected.dc());
    HGDIOBJ hOldFont = ::SelectObject(expected.hdc(), plot.m_fontCaption);
    ::SetTextColor(expected.hdc(), kCyan);
    ::SetBkMode(expected.hdc(), TRANSPARENT);
    for (const auto& text : texts) {
        ::TextOutA(expected.hdc(), text.first.x, text.first.y, text.second.c_str(),
                   static_cast<int>(text.second.size()));
    }
    ::SelectObject(expected.hdc(), hOldFont);
    return drawn.CountOf(kCyan) > 0 && drawn.SamePixels(expected);
}

TEST(ChartRows, ValuesMapToRowsNeverWrapAboveTheTopAndTheLineTakesTheCallersPen) {
    LivePlot live(100, 84);
    TestPlot& plot = live.plot;
    plot.SetValueRange(0.0f, 7000.0f);
    EXPECT_EQ(84, plot.ValueToRow(0.0f));  // just below the visible rows
    EXPECT_EQ(0, plot.ValueToRow(7000.0f));
    EXPECT_EQ(42, plot.ValueToRow(3500.0f));
    EXPECT_EQ(58, plot.ValueToRow(2156.0f));
    EXPECT_EQ(0, plot.ValueToRow(7500.0f));
    EXPECT_EQ(0, plot.ValueToRow(10500.0f));
    EXPECT_LE(84, plot.ValueToRow(-100.0f));
    EXPECT_LE(84, plot.ValueToRow(NAN));

    // Spacing 10 puts points on columns 0 to 90; the last is not painted.
    plot.SetPointSpacing(10);
    for (auto [fValue, nRow] : {std::pair{3500.0f, 42}, {10500.0f, 0}}) {
        plot.Fill(fValue);
        DibTarget target(100, 84);
        plot.DrawLayers(target.dc());
        EXPECT_EQ(Range(0, 89), target.ColumnsOf(nRow, kYellow)) << fValue;
        EXPECT_EQ(90, target.CountOf(kYellow)) << fValue;
    }

    // Equal bounds: every sample on the lowest visible row.
    plot.SetValueRange(3500.0f, 3500.0f);
    EXPECT_EQ(83, plot.ValueToRow(0.0f));
    DibTarget target(100, 84);
    plot.DrawLayers(target.dc());
    EXPECT_EQ(Range(0, 89), target.ColumnsOf(83, kYellow));

    // The caller's colour and width make the pen.
    const COLORREF kRed = RGB(200, 30, 60);
    plot.SetValueRange(0.0f, 7000.0f);
    plot.Fill(3500.0f);
    plot.SetLinePen(kRed, 3);
    DibTarget thick(100, 84);
    plot.DrawLayers(thick.dc());
    EXPECT_EQ(0, thick.CountOf(kYellow));
    for (int x : {5, 45, 85}) EXPECT_EQ(Range(41, 43), thick.RowsOf(x, kRed)) << x;

    // Each reading appended four times, rising, falling, flat at the ends:
    // whatever points the line leaves out, it sets the pixels of one line
    // through every point, thin and wide.
    plot.SetValueRange(0.0f, 100.0f);
    plot.SetPointSpacing(3);
    for (int i = 0; i < plot.m_nPointCount; ++i) {
        plot.AppendValue(static_cast<float>(((i / 4) * 37) % 100));
    }
    for (int nWidth : {0, 1, 3}) {
        plot.SetLinePen(kRed, nWidth);
        DibTarget drawn(100, 84), single(100, 84);
        plot.DrawLayers(drawn.dc());
        plot.DrawGrid(single.dc());
        std::vector<POINT> points;
        for (int i = 0; i < plot.m_nPointCount; ++i) {
            points.push_back({3 * i, plot.ValueToRow(plot.Values()[i])});
        }
        HGDIOBJ hOldPen = ::SelectObject(single.hdc(), ::CreatePen(PS_SOLID, nWidth, kRed));
        ::Polyline(single.hdc(), points.data(), static_cast<int>(points.size()));
        ::DeleteObject(::SelectObject(single.hdc(), hOldPen));
        EXPECT_GT(drawn.CountOf(kRed), 33) << nWidth;
        EXPECT_TRUE(drawn.SamePixels(single)) << nWidth;
    }
}

TEST(ChartGrid, LinesSitByThePhaseAndThePhaseCyclesThroughTheStep) {
    LivePlot live(100, 50);
    TestPlot& plot = live.plot;
    DibTarget still(100, 50);
    plot.DrawGrid(still.dc());
    EXPECT_EQ(Range(8, 48, 10), still.RowsOf(1, kGrid));
    EXPECT_EQ(Range(0, 90, 10), still.ColumnsOf(49, kGrid));
    EXPECT_EQ(Range(0, 99), still.ColumnsOf(48, kGrid));

    plot.m_nGridOffsetX = plot.m_nGridOffsetY = 3;
    DibTarget moved(100, 50);
    plot.DrawGrid(moved.dc());
    EXPECT_EQ(Range(1, 41, 10), moved.RowsOf(0, kGrid));
    EXPECT_EQ(Range(3, 93, 10), moved.ColumnsOf(49, kGrid));

    // A width set alone shows only once the pen is rebuilt.
    plot.m_nGridOffsetX = plot.m_nGridOffsetY = 0;
    plot.SetGridPenWidth(3);
    DibTarget thin(100, 50), thick(100, 50);
    plot.DrawGrid(thin.dc());
    EXPECT_EQ(Range(0, 90, 10), thin.ColumnsOf(45, kGrid));
    plot.SetGridColor(kGrid);
    plot.DrawGrid(thick.dc());
    for (int x : {9, 10, 11}) EXPECT_EQ(kGrid, thick.Pixel(x, 45)) << x;
    for (int x : {8, 12}) EXPECT_NE(kGrid, thick.Pixel(x, 45)) << x;

    plot.SetGridScrollX(1);
    plot.SetGridScrollY(-1);
    std::vector<int> xs, ys;
    for (int i = 0; i < 12; ++i) {
        plot.DrawGrid(still.dc());
        xs.push_back(plot.m_nGridOffsetX);
        ys.push_back(plot.m_nGridOffsetY);
    }
    EXPECT_EQ((std::vector<int>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 0, 1}), xs);
    EXPECT_EQ((std::vector<int>{10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0, 10}), ys);

    // Drawn many lines to a call, the grid is what a move and a line per grid
    // line draw: past one call's worth of lines, thin and wide.
    LivePlot wide(300, 50);
    wide.plot.SetGridStepX(4);
    wide.plot.SetGridStepY(7);
    for (int nWidth : {1, 2}) {
        wide.plot.SetGridPen(nWidth, kGrid);
        wide.plot.m_nGridOffsetX = 1;
        wide.plot.m_nGridOffsetY = 3;
        DibTarget batched(300, 50), single(300, 50);
        wide.plot.DrawGrid(batched.dc());
        HGDIOBJ hOldPen = ::SelectObject(single.hdc(), ::CreatePen(PS_SOLID, nWidth, kGrid));
        for (int x = 1; x <= 301; x += 4) {
            ::MoveToEx(single.hdc(), x, 0, nullptr);
            ::LineTo(single.hdc(), x, 50);
        }
        for (int y = 51; y >= 3 + 50 - 7 * 7 - 2; y -= 7) {
            ::MoveToEx(single.hdc(), 0, y, nullptr);
            ::LineTo(single.hdc(), 300, y);
        }
        ::DeleteObject(::SelectObject(single.hdc(), hOldPen));
        EXPECT_TRUE(batched.SamePixels(single)) << nWidth;
    }
}

TEST(ChartBars, EveryBarColumnShowsTheGradientOfItsRowUnderAYellowTop) {
    LivePlot live(20, 100);
    TestPlot& plot = live.plot;
    plot.SetPlotStyle(0);
    live.Paint();  // the first paint makes the gradient and its brush
    for (int i = 0; i < plot.m_nPointCount; ++i) plot.AppendValue(i % 2 ? 50.0f : 100.0f);
    DibTarget target(20, 100);
    plot.DrawLayers(target.dc());

    // Spacing 2: bar i covers columns 2i and 2i + 1; even bars are full and
    // odd ones half high. Row 20 tells double precision from x87 extended.
    for (int x = 0; x < 20; ++x) {
        bool bFull = (x / 2) % 2 == 0;
        int nTop = bFull ? 0 : 50;
        for (auto [nRow, cr] : {std::pair{1, RGB(2, 252, 64)},
                                {20, RGB(51, 204, 64)},
                                {75, RGB(191, 63, 64)},
                                {99, RGB(252, 2, 64)}}) {
            if (nRow > nTop) {
                EXPECT_EQ(cr, target.Pixel(x, nRow)) << x << "," << nRow;
            }
        }
        COLORREF crTopRow = bFull ? RGB(0, 255, 64) : RGB(127, 127, 64);
        EXPECT_EQ(x % 2 == 0 ? kYellow : crTopRow, target.Pixel(x, nTop)) << x;
        if (!bFull) {
            EXPECT_EQ(RGB(0, 0, 0), target.Pixel(x | 1, 49)) << x;
        }
    }
}

TEST(ChartCaption, ModesOutsideOneToFourAndStyleTwoDrawNothingButFreeTheLock) {
    LivePlot live(100, 84);
    TestPlot& plot = live.plot;
    plot.SetTitle("Fan Speed");
    plot.Fill(50.0f);
    for (int nStyle : {1, 2}) {
        for (int nMode : {0, 5}) {
            plot.SetPlotStyle(nStyle);
            plot.SetCaptionMode(nMode);
            DibTarget target(100, 84);
            plot.DrawLayers(target.dc());
            EXPECT_EQ(0, target.CountOf(kCyan));
            EXPECT_EQ(nStyle == 1, target.CountOf(kYellow) > 90);
            EXPECT_EQ(Range(0, 90, 10), target.ColumnsOf(83, kGrid));
            ASSERT_TRUE(AppendFromOtherThreadFinishes(&plot));
        }
    }
}

TEST(ChartCaption, TextsAreTheFormattedLinesAtTheirPlaces) {
    LivePlot live(300, 84);
    TestPlot& plot = live.plot;
    plot.SetTitle("Fan Speed");
    plot.SetUnit(" RPM ");
    plot.SetValueRange(0.0f, 7000.0f);
    plot.SetPlotStyle(2);
    plot.AppendValue(2156.0f);
    plot.SetCaptionMode(4);
    EXPECT_TRUE(CaptionShows(plot, 300, 84,
                             {{{0, 0}, "Fan Speed   2156.0  RPM  /   7000.0"},
                              {{0, 74}, "     0.0"},
                              {{0, 42}, "  3500.0"}}));
    // A new value shows at once, and so does the one before when it comes back.
    for (float fValue : {3000.5f, 2156.0f}) {
        plot.AppendValue(fValue);
        char szTitle[64];
        snprintf(szTitle, sizeof(szTitle), "Fan Speed %8.1f  RPM  /   7000.0", fValue);
        EXPECT_TRUE(CaptionShows(
            plot, 300, 84, {{{0, 0}, szTitle}, {{0, 74}, "     0.0"}, {{0, 42}, "  3500.0"}}));
    }
    // Either end of the range changed shows at once.
    plot.SetValueRange(-50.0f, 7000.0f);
    EXPECT_TRUE(CaptionShows(plot, 300, 84,
                             {{{0, 0}, "Fan Speed   2156.0  RPM  /   7000.0"},
                              {{0, 74}, "   -50.0"},
                              {{0, 42}, "  3475.0"}}));
    plot.SetValueRange(-50.0f, 150.0f);
    EXPECT_TRUE(CaptionShows(plot, 300, 84,
                             {{{0, 0}, "Fan Speed   2156.0  RPM  /    150.0"},
                              {{0, 74}, "   -50.0"},
                              {{0, 42}, "    50.0"}}));

    // A percent sign is text, not format; a line past 260 characters is cut.
    plot.SetCaptionMode(1);
    plot.SetTitle("100% %d");
    EXPECT_TRUE(CaptionShows(plot, 300, 84, {{{0, 0}, "100% %d"}}));
    plot.SetCaptionMode(2);
    plot.SetTitle(std::string(260, 'W').c_str());
    EXPECT_TRUE(CaptionShows(plot, 300, 84, {{{0, 0}, std::string(260, 'W')}}));

    // Without a sample slot the value's place stays blank.
    LivePlot narrow(3, 40);
    narrow.plot.SetPointSpacing(4);
    narrow.plot.SetTitle("T");
    narrow.plot.SetUnit("U");
    narrow.plot.SetCaptionMode(2);
    EXPECT_TRUE(CaptionShows(narrow.plot, 3, 40, {{{0, 0}, "T          U /    100.0"}}));
}

TEST(ChartPaint, PaintPutsTheFrameOnTheWindowAndSurvivesGdiExhaustion) {
    LivePlot live(120, 60);
    TestPlot& plot = live.plot;
    plot.SetPlotStyle(0);
    {
        GdiExhauster full;
        live.Paint();  // nothing can be made: every layer is skipped
    }
    EXPECT_TRUE(AppendFromOtherThreadFinishes(&plot));

    plot.Fill(50.0f);
    plot.bProbeLock = true;
    live.Paint();  // the gradient is made now
    plot.bProbeLock = false;
    // No append can come between the curve and the captions of a frame.
    EXPECT_EQ(std::vector<bool>{false}, plot.lockFreeAtCaption);
    DibTarget expected(120, 60), shown(120, 60);
    plot.DrawLayers(expected.dc());
    HDC hDC = ::GetDC(live.hStatic());
    ::BitBlt(shown.hdc(), 0, 0, 120, 60, hDC, 0, 0, SRCCOPY);
    ::ReleaseDC(live.hStatic(), hDC);
    for (int y : {8, 30, 31, 58}) {  // rows clear of the rounded corners
        EXPECT_EQ(expected.ColumnsOf(y, kYellow), shown.ColumnsOf(y, kYellow)) << y;
        EXPECT_EQ(expected.ColumnsOf(y, kGrid), shown.ColumnsOf(y, kGrid)) << y;
    }
    EXPECT_EQ(kYellow, shown.Pixel(0, 30));
    EXPECT_EQ(RGB(127, 127, 64), shown.Pixel(1, 30));
}

// What a paint put on the window, rounded corners and all.
void Shown(LivePlot& live, DibTarget* pTarget, int cx, int cy) {
    live.Paint();
    HDC hDC = ::GetDC(live.hStatic());
    ::BitBlt(pTarget->hdc(), 0, 0, cx, cy, hDC, 0, 0, SRCCOPY);
    ::ReleaseDC(live.hStatic(), hDC);
}

// Every kind of change to what the chart shows, applied between two paints.
struct Change {
    const char* name;
    void (*apply)(LivePlot& live);
};
const Change kChanges[] = {
    {"append", [](LivePlot& l) { l.plot.AppendValue(90.0f); }},
    {"title", [](LivePlot& l) { l.plot.SetTitle("Other"); }},
    {"unit", [](LivePlot& l) { l.plot.SetUnit(" rpm "); }},
    {"value range", [](LivePlot& l) { l.plot.SetValueRange(0.0f, 50.0f); }},
    {"min and max", [](LivePlot& l) { l.plot.SetMinMax(10.0f, 80.0f); }},
    {"range freed, then widened",
     [](LivePlot& l) {
         l.plot.SetFixedRange(false);
         l.plot.AppendValue(400.0f);
     }},
    {"point spacing", [](LivePlot& l) { l.plot.SetPointSpacing(3); }},
    {"grid step x", [](LivePlot& l) { l.plot.SetGridStepX(7); }},
    {"grid step y", [](LivePlot& l) { l.plot.SetGridStepY(9); }},
    {"grid colour", [](LivePlot& l) { l.plot.SetGridColor(RGB(0, 0, 200)); }},
    {"grid pen", [](LivePlot& l) { l.plot.SetGridPen(2, RGB(90, 90, 90)); }},
    {"background", [](LivePlot& l) { l.plot.SetBackgroundColor(RGB(30, 0, 30)); }},
    {"caption colour", [](LivePlot& l) { l.plot.SetCaptionColor(RGB(255, 0, 255)); }},
    {"caption mode", [](LivePlot& l) { l.plot.SetCaptionMode(1); }},
    {"plot style", [](LivePlot& l) { l.plot.SetPlotStyle(0); }},
    {"line colour", [](LivePlot& l) { l.plot.SetLineColor(RGB(255, 0, 0)); }},
    {"line width", [](LivePlot& l) { l.plot.SetLineWidth(3); }},
    {"line pen", [](LivePlot& l) { l.plot.SetLinePen(RGB(0, 0, 255), 2); }},
    {"grid pen width, then colour",
     [](LivePlot& l) {
         l.plot.SetGridPenWidth(3);
         l.plot.SetGridColor(RGB(0, 125, 0));
     }},
    {"size",
     [](LivePlot& l) {
         ::SetWindowPos(l.hStatic(), nullptr, 0, 0, 150, 60, SWP_NOMOVE | SWP_NOZORDER);
     }},
};

// A paint that changes nothing copies the last frame without drawing; after
// any change the window shows, pixel for pixel, what a full redraw shows.
TEST(ChartPaint, KeptFrameIsReusedUntilAChangeAndThenEqualsAFullRedraw) {
    const int cx = 160, cy = 70;
    for (const Change& change : kChanges) {
        SCOPED_TRACE(change.name);
        LivePlot live(cx, cy);
        TestPlot& plot = live.plot;
        plot.SetTitle("Fan");
        plot.SetCaptionMode(4);
        for (int i = 0; i < plot.m_nPointCount; ++i) plot.AppendValue(static_cast<float>(i % 60));
        DibTarget first(cx, cy), again(cx, cy);
        Shown(live, &first, cx, cy);
        const int nDrawn = plot.nDrawnFrames;
        Shown(live, &again, cx, cy);
        EXPECT_EQ(plot.nDrawnFrames, nDrawn) << "an unchanged chart was drawn again";
        EXPECT_TRUE(again.SamePixels(first));

        change.apply(live);
        DibTarget after(cx, cy), redrawn(cx, cy);
        Shown(live, &after, cx, cy);
        EXPECT_EQ(plot.nDrawnFrames, nDrawn + 1) << "the change did not redraw";
        plot.InvalidateWholeFrame();
        Shown(live, &redrawn, cx, cy);
        EXPECT_TRUE(after.SamePixels(redrawn));
        EXPECT_FALSE(after.SamePixels(first)) << "the change shows nothing";
    }
}

// Title, unit, all captions, a range of 0 to 100, every value fValue.
void SetUpFanChart(TestPlot* pPlot, float fValue) {
    pPlot->SetTitle("Fan");
    pPlot->SetUnit("RPM");
    pPlot->SetCaptionMode(4);
    pPlot->SetValueRange(0.0f, 100.0f);
    pPlot->Fill(fValue);
}

// Frames drawn one after another only where they changed, as the line
// climbs through the captions and falls back, while settings change between
// them: each shows what the whole frame shows.
TEST(ChartPaint, FramesDrawnInPlaceEqualWholeFrames) {
    const float kReadings[] = {50, 97, 99, 60, 48, 52, 20, 5, 0, 3, 50, 50, 100, 40};
    struct Step {
        int nAt;
        const char* name;
        void (*apply)(TestPlot& plot);
    };
    const Step kSteps[] = {
        {9, "caption colour", [](TestPlot& p) { p.SetCaptionColor(RGB(255, 0, 255)); }},
        {14, "title", [](TestPlot& p) { p.SetTitle("Fan speed"); }},
        {19, "minimum", [](TestPlot& p) { p.SetValueRange(-10.0f, 100.0f); }},
        {27, "wide line", [](TestPlot& p) { p.SetLinePen(RGB(200, 30, 60), 3); }},
        {35, "thin line", [](TestPlot& p) { p.SetLinePen(kYellow, 1); }},
        {41, "two captions fewer", [](TestPlot& p) { p.SetCaptionMode(2); }},
        {47, "captions back", [](TestPlot& p) { p.SetCaptionMode(4); }},
        {60, "flat, clear of the captions", [](TestPlot& p) { p.Fill(70.0f); }},
        {62, "a line wide enough to reach them", [](TestPlot& p) { p.SetLinePen(kYellow, 41); }},
    };
    const int cx = 160;
    // Captions apart, and on a chart too low for that, overlapping.
    for (int cy : {70, 24}) {
        SCOPED_TRACE(cy);
        LivePlot inPlace(cx, cy), whole(cx, cy);
        for (TestPlot* pPlot : {&inPlace.plot, &whole.plot}) SetUpFanChart(pPlot, 50.0f);
        inPlace.Paint();
        for (int i = 0; i < 66; ++i) {
            for (const Step& step : kSteps) {
                if (step.nAt == i) {
                    step.apply(inPlace.plot);
                    step.apply(whole.plot);
                }
            }
            // Each reading shown four times, as the program appends it.
            const float fValue = i < 60 ? kReadings[(i / 4) % std::size(kReadings)] : 70.0f;
            inPlace.plot.AppendValue(fValue);
            whole.plot.AppendValue(fValue);
            whole.plot.InvalidateWholeFrame();
            inPlace.Paint();
            whole.Paint();
            DibTarget drawn(cx, cy), expected(cx, cy);
            inPlace.plot.CopyKeptFrame(drawn);
            whole.plot.CopyKeptFrame(expected);
            ASSERT_TRUE(drawn.SamePixels(expected)) << "frame " << i;
        }
        if (cy == 70) {
            EXPECT_GE(inPlace.plot.nInPlaceFrames, 55);
        }
        EXPECT_EQ(0, whole.plot.nInPlaceFrames);
    }
}

// A line rising at the right end spans the chart's height in its bounds, yet
// none of its pixels come near the minimum's caption at the bottom left: that
// caption keeps its pixels instead of being put back and drawn again.
TEST(ChartPaint, ACaptionWithinTheLinesBoundsButClearOfItsPixelsIsKept) {
    const int cx = 160, cy = 70;
    LivePlot inPlace(cx, cy), whole(cx, cy);
    for (TestPlot* pPlot : {&inPlace.plot, &whole.plot}) SetUpFanChart(pPlot, 0.0f);
    inPlace.Paint();
    for (int i = 0; i < 8; ++i) {
        inPlace.plot.AppendValue(40.0f);
        inPlace.Paint();
    }
    EXPECT_EQ(8, inPlace.plot.nInPlaceFrames);
    EXPECT_EQ(0, inPlace.plot.nCaptionRedrawsInPlace[1]);
    for (int i = 0; i < 8; ++i) whole.plot.AppendValue(40.0f);
    whole.Paint();
    DibTarget drawn(cx, cy), expected(cx, cy);
    inPlace.plot.CopyKeptFrame(drawn);
    whole.plot.CopyKeptFrame(expected);
    EXPECT_TRUE(drawn.SamePixels(expected));
}

// A scrolling grid moves on every paint, so every paint draws.
TEST(ChartPaint, ScrollingGridDrawsEveryPaint) {
    LivePlot live(100, 50);
    live.plot.SetGridScrollX(2);
    live.Paint();
    const int nDrawn = live.plot.nDrawnFrames;
    for (int i = 0; i < 3; ++i) live.Paint();
    EXPECT_EQ(live.plot.nDrawnFrames, nDrawn + 3);
}

// What reaches no setter still shows within a second: of 20 paints in a row
// of an unchanged chart, the 20th draws.
TEST(ChartPaint, UnchangedChartDrawsEveryTwentiethPaint) {
    LivePlot live(100, 50);
    live.Paint();
    const int nDrawn = live.plot.nDrawnFrames;
    for (int i = 0; i < 19; ++i) live.Paint();
    EXPECT_EQ(live.plot.nDrawnFrames, nDrawn);
    live.Paint();
    EXPECT_EQ(live.plot.nDrawnFrames, nDrawn + 1);
}

}  // namespace
