// The chart's frame against one block copy of the same size, on a chart set
// up as the main window sets it up (458 x 161 client pixels, 114 points).
// Every figure is sampled in the same rounds, one after the other, so that a
// change in the machine's load touches all of them alike.
#include <windows.h>

#include <cmath>
#include <functional>
#include <vector>

#include "bench/BenchCommon.h"
#include "chart/MemDC.h"
#include "chart/MultiColorPlotCtrl.h"

namespace {

const int kWidth = 458, kHeight = 161;
const int kRounds = 50, kPerRound = 20;
const int kAppendsPerSample = 1000;

class BenchPlot : public CMultiColorPlotCtrl {
  public:
    using CMultiColorPlotCtrl::DrawCaption;
    using CMultiColorPlotCtrl::DrawCurve;
    using CMultiColorPlotCtrl::DrawGrid;
    using CMultiColorPlotCtrl::m_nPointCount;
};

// Fan speeds shaped like the tachometer's: a slow swing of +-600 rpm around
// 3000 rpm with a little jitter, so that the curve is never a flat line.
float FanSample(int i) {
    double swing = 600.0 * std::sin(i / 9.0);
    double jitter = static_cast<double>((i * 7919) % 61) - 30.0;
    return static_cast<float>(3000.0 + swing + jitter);
}

// A window shaped like the chart whose paint is one block copy of the
// chart's size: what a WM_PAINT costs before the chart draws anything.
HDC g_hBlitSource = nullptr;

LRESULT CALLBACK BlitWndProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_ERASEBKGND) return 1;
    if (message != WM_PAINT) return ::DefWindowProcA(hWnd, message, wParam, lParam);
    PAINTSTRUCT ps;
    HDC hDC = ::BeginPaint(hWnd, &ps);
    ::BitBlt(hDC, 0, 0, kWidth, kHeight, g_hBlitSource, 0, 0, SRCCOPY);
    ::EndPaint(hWnd, &ps);
    return 0;
}

// A bordered static of the chart's client size, as the dialog template makes it.
HWND CreateChartLike(HWND hParent, const char* pszClass, int y) {
    HWND hWnd = ::CreateWindowExA(0, pszClass, "", WS_CHILD | WS_VISIBLE | WS_BORDER, 10, y,
                                  kWidth + 2, kHeight + 2, hParent, nullptr, nullptr, nullptr);
    RECT rc;
    ::GetClientRect(hWnd, &rc);
    if (rc.right != kWidth || rc.bottom != kHeight) {
        bench::Note("bench_chart: client area %ldx%ld, wanted %dx%d", rc.right, rc.bottom, kWidth,
                    kHeight);
        ::ExitProcess(1);
    }
    return hWnd;
}

// One figure's samples, all of them and each round's median.
struct Series {
    std::function<void(std::vector<double>&)> sample;
    std::vector<double> all;
    std::vector<double> roundMedians;
};

// One timed call per sample.
std::function<void(std::vector<double>&)> Timed(std::function<void()> step) {
    return [step](std::vector<double>& out) {
        double t0 = bench::NowUs();
        step();
        out.push_back(bench::NowUs() - t0);
    };
}

}  // namespace

int main() {
    HWND hHost =
        ::CreateWindowExA(WS_EX_TOOLWINDOW, "STATIC", "", WS_POPUP | WS_VISIBLE, 10, 10,
                          kWidth + 22, 2 * kHeight + 34, nullptr, nullptr, nullptr, nullptr);
    HWND hChart = CreateChartLike(hHost, "STATIC", 10);

    BenchPlot plot;
    plot.SubclassWindow(hChart);
    plot.SetTitle("Fan Speed");
    plot.SetUnit(" RPM ");
    plot.SetValueRange(0.0f, 7000.0f);
    plot.SetPointSpacing(4);
    plot.SetGridStepX(15);
    plot.SetCaptionMode(4);
    plot.SetPlotStyle(1);
    if (plot.m_nPointCount != 114) {
        bench::Note("bench_chart: %d points, wanted 114", plot.m_nPointCount);
        return 1;
    }
    int nSample = 0;
    for (int i = 0; i < plot.m_nPointCount; ++i) plot.AppendValue(FanSample(nSample++));
    // The first paint makes the chart's long-lived objects.
    ::UpdateWindow(hChart);

    HDC hWndDC = ::GetDC(hChart);
    CDC* pWndDC = CDC::FromHandle(hWndDC);

    // The yardstick's source: plain Win32, whatever the framework does.
    HDC hSource = ::CreateCompatibleDC(hWndDC);
    HBITMAP hSourceBitmap = ::CreateCompatibleBitmap(hWndDC, kWidth, kHeight);
    HGDIOBJ hOldSourceBitmap = ::SelectObject(hSource, hSourceBitmap);
    RECT rcAll = {0, 0, kWidth, kHeight};
    ::FillRect(hSource, &rcAll, static_cast<HBRUSH>(::GetStockObject(GRAY_BRUSH)));
    g_hBlitSource = hSource;

    WNDCLASSA wc = {};
    wc.lpfnWndProc = &BlitWndProc;
    wc.lpszClassName = "VorlaneBenchBlit";
    ::RegisterClassA(&wc);
    HWND hBlit = CreateChartLike(hHost, wc.lpszClassName, kHeight + 22);
    ::SetWindowRgn(hBlit, ::CreateRoundRectRgn(0, 0, kWidth, kHeight, 10, 10), TRUE);

    // The parts are drawn on a surface like the frame's own.
    CDC surface;
    surface.CreateCompatibleDC(pWndDC);
    CBitmap surfaceBitmap;
    surfaceBitmap.CreateCompatibleBitmap(pWndDC, kWidth, kHeight);
    CBitmap* pOldSurfaceBitmap = surface.SelectObject(&surfaceBitmap);

    Series blt, frame, surfaceOnly, grid, curve, caption, paint, paintDrawn, paintBlt, append;
    blt.sample = Timed([&] {
        ::BitBlt(hWndDC, 0, 0, kWidth, kHeight, hSource, 0, 0, SRCCOPY);
        ::GdiFlush();
    });
    // OnPaint's work between BeginPaint and EndPaint, on the chart's own
    // window context, drawing on a kept surface as OnPaint draws on its kept
    // frame.
    frame.sample = Timed([&] {
        RECT rcClient;
        ::GetClientRect(hChart, &rcClient);
        CMemDC* pMemDC = new CMemDC(pWndDC, &rcClient, &surface);
        POINT ptOldBrushOrg = pMemDC->GetBrushOrg();
        plot.DrawGrid(pMemDC);
        plot.DrawCurve(pMemDC);
        plot.DrawCaption(pMemDC);
        pMemDC->SetBrushOrg(ptOldBrushOrg);
        delete pMemDC;
        ::GdiFlush();
    });
    surfaceOnly.sample = Timed([&] {
        CMemDC* pMemDC = new CMemDC(pWndDC, &rcAll, &surface);
        delete pMemDC;
        ::GdiFlush();
    });
    grid.sample = Timed([&] {
        plot.DrawGrid(&surface);
        ::GdiFlush();
    });
    // DrawCurve takes the chart's lock and DrawCaption lets it go: both are
    // called in every sample, each timed on its own.
    std::vector<double> captionRound;
    curve.sample = [&](std::vector<double>& out) {
        double t0 = bench::NowUs();
        plot.DrawCurve(&surface);
        ::GdiFlush();
        double t1 = bench::NowUs();
        plot.DrawCaption(&surface);
        ::GdiFlush();
        double t2 = bench::NowUs();
        out.push_back(t1 - t0);
        captionRound.push_back(t2 - t1);
    };
    // Nothing changed since the last paint: the kept frame is copied.
    paint.sample = Timed([&] {
        ::InvalidateRect(hChart, nullptr, FALSE);
        ::UpdateWindow(hChart);
        ::GdiFlush();
    });
    // A value appended, untimed, before each paint: the frame is drawn.
    paintDrawn.sample = [&](std::vector<double>& out) {
        plot.AppendValue(FanSample(nSample++));
        double t0 = bench::NowUs();
        ::InvalidateRect(hChart, nullptr, FALSE);
        ::UpdateWindow(hChart);
        ::GdiFlush();
        out.push_back(bench::NowUs() - t0);
    };
    paintBlt.sample = Timed([&] {
        ::InvalidateRect(hBlit, nullptr, FALSE);
        ::UpdateWindow(hBlit);
        ::GdiFlush();
    });
    append.sample = [&](std::vector<double>& out) {
        float fValue = FanSample(nSample++);
        double t0 = bench::NowUs();
        for (int i = 0; i < kAppendsPerSample; ++i) plot.AppendValue(fValue);
        out.push_back((bench::NowUs() - t0) / kAppendsPerSample);
    };
    Series* order[] = {&blt,   &frame,      &surfaceOnly, &grid,  &curve,
                       &paint, &paintDrawn, &paintBlt,    &append};

    // A round of warm-up fills caches and the framework's spare objects.
    for (int nRound = -1; nRound < kRounds; ++nRound) {
        for (Series* s : order) {
            std::vector<double> round;
            for (int i = 0; i < kPerRound; ++i) s->sample(round);
            if (nRound < 0) continue;
            s->all.insert(s->all.end(), round.begin(), round.end());
            s->roundMedians.push_back(bench::Summarize(round).median);
        }
        if (nRound >= 0)
            caption.all.insert(caption.all.end(), captionRound.begin(), captionRound.end());
        captionRound.clear();
    }

    bench::Stats bltStats = bench::Summarize(blt.all);
    bench::Stats frameStats = bench::Summarize(frame.all);
    std::vector<double> ratios;
    for (size_t r = 0; r < blt.roundMedians.size(); ++r) {
        ratios.push_back(frame.roundMedians[r] / blt.roundMedians[r]);
    }
    bench::Stats ratio = bench::Summarize(ratios);
    double fRatio = frameStats.median / bltStats.median;

    bench::TimeRow("BitBlt 458×161, memory DC → chart window DC", bltStats);
    bench::TimeRow(
        "Chart frame: OnPaint's drawing on the chart's window DC (surface, grid, curve, "
        "captions, copy)",
        frameStats);
    bench::Row(
        "Chart frame ÷ BitBlt", bench::Num(fRatio, 1) + "×",
        "IQR " + bench::Num(ratio.q1, 1) + "–" + bench::Num(ratio.q3, 1) + "× (per-round ratios)",
        ratio.n, "≤ 15×", bench::Verdict(fRatio <= 15.0));
    bench::TimeRow("· part: kept surface lent and copied, nothing drawn",
                   bench::Summarize(surfaceOnly.all));
    bench::TimeRow("· part: grid (DrawGrid)", bench::Summarize(grid.all));
    bench::TimeRow("· part: curve (DrawCurve, 114 points)", bench::Summarize(curve.all));
    bench::TimeRow("· part: captions (DrawCaption, mode 4)", bench::Summarize(caption.all));
    bench::TimeRow(
        "Chart WM_PAINT as dispatched (InvalidateRect + UpdateWindow), a value "
        "appended before each: the frame drawn",
        bench::Summarize(paintDrawn.all));
    bench::TimeRow("Chart WM_PAINT as dispatched, nothing changed: the kept frame copied",
                   bench::Summarize(paint.all));
    bench::TimeRow("WM_PAINT of one same-size BitBlt, same window shape",
                   bench::Summarize(paintBlt.all));
    for (Series* pPaint : {&paintDrawn, &paint}) {
        std::vector<double> paintRatios;
        for (size_t r = 0; r < paintBlt.roundMedians.size(); ++r) {
            paintRatios.push_back(pPaint->roundMedians[r] / paintBlt.roundMedians[r]);
        }
        bench::Stats pr = bench::Summarize(paintRatios);
        double fPaintRatio =
            bench::Summarize(pPaint->all).median / bench::Summarize(paintBlt.all).median;
        const bool bKept = pPaint == &paint;
        bench::Row(
            bKept ? "Chart WM_PAINT, kept frame ÷ WM_PAINT of one BitBlt"
                  : "Chart WM_PAINT, frame drawn ÷ WM_PAINT of one BitBlt",
            bench::Num(fPaintRatio, 2) + "×",
            "IQR " + bench::Num(pr.q1, 2) + "–" + bench::Num(pr.q3, 2) + "× (per-round ratios)",
            pr.n, bKept ? "≤ 1.1×" : "–", bKept ? bench::Verdict(fPaintRatio <= 1.1) : "–");
    }
    bench::TimeRow("AppendValue on a full window (114 points), per call",
                   bench::Summarize(append.all));

    bench::Note(
        "bench_chart: %d rounds x %d samples of each figure, interleaved; AppendValue "
        "timed in batches of %d calls",
        kRounds, kPerRound, kAppendsPerSample);

    surface.SelectObject(pOldSurfaceBitmap);
    ::SelectObject(hSource, hOldSourceBitmap);
    ::DeleteObject(hSourceBitmap);
    ::DeleteDC(hSource);
    ::ReleaseDC(hChart, hWndDC);
    ::DestroyWindow(hHost);
    return 0;
}
