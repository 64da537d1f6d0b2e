// Pixels of the chart's layers, drawn on 32-bit memory contexts of the
// control's size, and of its paints on the window.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "ChartTestSupport.h"

namespace {

const COLORREF kBlack = RGB(0, 0, 0);
const COLORREF kGrid = RGB(0, 125, 0);
const COLORREF kYellow = RGB(255, 255, 0);
const COLORREF kCyan = RGB(0, 255, 255);

std::vector<int> Range(int nFrom, int nTo, int nStep = 1) {
    std::vector<int> v;
    for (int i = nFrom; i <= nTo; i += nStep) v.push_back(i);
    return v;
}

void Fill(TestPlot& plot, float v) {
    for (int i = 0; i < plot.m_nPointCount; ++i) plot.AppendValue(v);
}

// The caption texts as TextOut draws them with the chart's font, over the
// grid alone.
void DrawExpectedCaption(TestPlot& plot, DibTarget& target,
                         std::initializer_list<std::pair<POINT, std::string>> texts) {
    plot.DrawGrid(target.dc());
    HGDIOBJ hOldFont = ::SelectObject(target.hdc(), plot.m_fontCaption);
    ::SetTextColor(target.hdc(), kCyan);
    ::SetBkMode(target.hdc(), TRANSPARENT);
    for (const auto& text : texts) {
        ::TextOutA(target.hdc(), text.first.x, text.first.y, text.second.c_str(),
                   static_cast<int>(text.second.size()));
    }
    ::SelectObject(target.hdc(), hOldFont);
}

TEST(ChartRows, ValuesMapToRowsAndNeverWrapAboveTheTop) {
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

    // The line goes through the rows of the samples; spacing 10 gives points
    // at columns 0 to 90, and the last point is not painted.
    plot.SetPointSpacing(10);
    for (auto [fValue, nRow] : {std::pair{3500.0f, 42}, {10500.0f, 0}}) {
        Fill(plot, fValue);
        DibTarget target(100, 84);
        plot.DrawLayers(target.dc());
        EXPECT_EQ(Range(0, 89), target.ColumnsOf(nRow, kYellow)) << fValue;
        EXPECT_EQ(90, target.CountOf(kYellow)) << fValue;
    }

    // Equal bounds put every sample on the lowest visible row.
    plot.SetValueRange(3500.0f, 3500.0f);
    EXPECT_EQ(83, plot.ValueToRow(3500.0f));
    EXPECT_EQ(83, plot.ValueToRow(0.0f));
    DibTarget target(100, 84);
    plot.DrawLayers(target.dc());
    EXPECT_EQ(Range(0, 89), target.ColumnsOf(83, kYellow));
}

TEST(ChartGrid, LinesSitByThePhaseAndThePhaseCyclesThroughTheStep) {
    LivePlot live(100, 50);
    TestPlot& plot = live.plot;
    plot.SetPlotStyle(2);
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

    // The width set alone shows only once the pen is rebuilt.
    plot.m_nGridOffsetX = plot.m_nGridOffsetY = 0;
    plot.SetGridPenWidth(3);
    DibTarget thin(100, 50);
    plot.DrawGrid(thin.dc());
    EXPECT_EQ(Range(0, 90, 10), thin.ColumnsOf(45, kGrid));
    plot.SetGridColor(kGrid);
    DibTarget thick(100, 50);
    plot.DrawGrid(thick.dc());
    std::vector<int> thickColumns = thick.ColumnsOf(45, kGrid);
    EXPECT_EQ((std::vector<int>{0, 1, 9, 10, 11, 19, 20, 21}),
              std::vector<int>(thickColumns.begin(), thickColumns.begin() + 8));

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
}

TEST(ChartBars, EveryBarColumnShowsTheGradientOfItsRowUnderAYellowTop) {
    LivePlot live(20, 100);
    TestPlot& plot = live.plot;
    plot.SetPlotStyle(0);
    live.Paint();  // the first paint makes the gradient and its brush
    for (int i = 0; i < plot.m_nPointCount; ++i) plot.AppendValue(i % 2 ? 50.0f : 100.0f);
    DibTarget target(20, 100);
    plot.DrawLayers(target.dc());

    // Spacing 2: bar i covers columns 2i and 2i + 1; even bars are full, odd
    // ones half high. Row 20 tells double precision from x87 extended.
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
            EXPECT_EQ(kBlack, target.Pixel(x | 1, 49)) << x;
        }
    }
}

TEST(ChartCaption, ModesOutsideOneToFourAndStyleTwoDrawNothingButFreeTheLock) {
    LivePlot live(100, 84);
    TestPlot& plot = live.plot;
    plot.SetTitle("Fan Speed");
    Fill(plot, 50.0f);
    for (int nStyle : {1, 2}) {
        for (int nMode : {0, 5}) {
            plot.SetPlotStyle(nStyle);
            plot.SetCaptionMode(nMode);
            DibTarget target(100, 84);
            plot.DrawLayers(target.dc());
            EXPECT_EQ(0, target.CountOf(kCyan));
            EXPECT_EQ(nStyle == 1 ? 98 : 0, target.CountOf(kYellow));
            EXPECT_EQ(Range(0, 90, 10), target.ColumnsOf(83, kGrid));
            EXPECT_TRUE(FinishesOnOtherThread([](TestPlot* p) { p->AppendValue(50.0f); }, &plot));
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
    DibTarget drawn(300, 84), expected(300, 84);
    plot.DrawLayers(drawn.dc());
    DrawExpectedCaption(plot, expected,
                        {{{0, 0}, "Fan Speed   2156.0  RPM  /   7000.0"},
                         {{0, 74}, "     0.0"},
                         {{0, 42}, "  3500.0"}});
    EXPECT_LT(20, drawn.CountOf(kCyan));
    EXPECT_TRUE(drawn.SamePixels(expected));

    // A percent sign is text, not format; a line past 260 characters is cut.
    plot.SetCaptionMode(1);
    plot.SetTitle("100% %d");
    DibTarget percent(300, 84), percentExpected(300, 84);
    plot.DrawLayers(percent.dc());
    DrawExpectedCaption(plot, percentExpected, {{{0, 0}, "100% %d"}});
    EXPECT_TRUE(percent.SamePixels(percentExpected));

    plot.SetCaptionMode(2);
    plot.SetTitle(std::string(260, 'W').c_str());
    DibTarget longLine(300, 84), longExpected(300, 84);
    plot.DrawLayers(longLine.dc());
    DrawExpectedCaption(plot, longExpected, {{{0, 0}, std::string(260, 'W')}});
    EXPECT_TRUE(longLine.SamePixels(longExpected));
}

TEST(ChartCaption, ValueLineWithoutASampleSlotLeavesTheValueBlank) {
    LivePlot live(3, 40);
    TestPlot& plot = live.plot;
    plot.SetPointSpacing(4);
    plot.SetTitle("T");
    plot.SetUnit("U");
    plot.SetCaptionMode(2);
    DibTarget drawn(3, 40), expected(3, 40);
    plot.DrawLayers(drawn.dc());
    DrawExpectedCaption(plot, expected, {{{0, 0}, "T          U /    100.0"}});
    EXPECT_TRUE(drawn.SamePixels(expected));
}

TEST(ChartPaint, PaintPutsTheFrameOnTheWindowAndSurvivesGdiExhaustion) {
    LivePlot live(120, 60);
    TestPlot& plot = live.plot;
    plot.SetPlotStyle(0);
    {
        GdiExhauster full(0);
        live.Paint();  // nothing can be made: every layer is skipped
    }
    EXPECT_TRUE(FinishesOnOtherThread([](TestPlot* p) { p->AppendValue(50.0f); }, &plot));

    Fill(plot, 50.0f);
    live.Paint();  // the gradient is made now
    DibTarget expected(120, 60), shown(120, 60);
    plot.DrawLayers(expected.dc());
    HDC hDC = ::GetDC(live.hStatic());
    ::BitBlt(shown.hdc(), 0, 0, 120, 60, hDC, 0, 0, SRCCOPY);
    ::ReleaseDC(live.hStatic(), hDC);
    // Rows clear of the rounded corners.
    for (int y : {8, 30, 31, 50}) {
        for (int x = 0; x < 120; ++x)
            EXPECT_EQ(expected.Pixel(x, y), shown.Pixel(x, y)) << x << "," << y;
    }
    EXPECT_EQ(kYellow, shown.Pixel(0, 30));
    EXPECT_EQ(RGB(127, 127, 64), shown.Pixel(1, 30));
}

}  // namespace
