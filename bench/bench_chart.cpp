// The chart's frame against one block copy of the same size, on the chart of
// the program's own main window, set up by the dialog itself. Every figure is
// sampled in the same rounds, one after the other, so that a change in the
// machine's load touches all of them alike.
#include <windows.h>

#include <cmath>
#include <functional>
#include <vector>

#include "bench/BenchCommon.h"
#include "bench/BenchDialog.h"
#include "tests/common/Harness.h"
#include "chart/MemDC.h"
#include "wrrdio/WrRdIOSim.h"

namespace {

const int kRounds = 50, kPerRound = 20;
const int kAppendsPerSample = 1000;

// The chart keeps its drawing steps to itself; a pointer to a member named
// through a subclass is the way C++ leaves to call them on a chart we did not
// make.
struct PlotSteps : CMultiColorPlotCtrl {
    static void Grid(CMultiColorPlotCtrl& plot, CDC* pDC) { (plot.*&PlotSteps::DrawGrid)(pDC); }
    static void Curve(CMultiColorPlotCtrl& plot, CDC* pDC) { (plot.*&PlotSteps::DrawCurve)(pDC); }
    static void Caption(CMultiColorPlotCtrl& plot, CDC* pDC) {
        (plot.*&PlotSteps::DrawCaption)(pDC);
    }
    static int PointCount(const CMultiColorPlotCtrl& plot) {
        return plot.*&PlotSteps::m_nPointCount;
    }
    static CDC& Frame(CMultiColorPlotCtrl& plot) { return plot.*&PlotSteps::m_dcFrame; }
    // The layers of one frame as OnPaint draws them on the kept frame: in
    // place where the chart can, else whole.
    static void Layers(CMultiColorPlotCtrl& plot, CDC* pDC, bool bInPlace) {
        bInPlace = bInPlace && (plot.*&PlotSteps::CanDrawInPlace)(pDC, false);
        (plot.*&PlotSteps::DrawFrameLayers)(pDC, bInPlace);
        (plot.*&PlotSteps::KeepDrawnLayers)(true);
    }
};

// Memory the size of a large cache, touched between samples of a cold figure:
// a frame in the running program comes a quarter of a second after the last,
// and finds its code and data evicted by everything the machine did since.
const size_t kEvictBytes = 64u << 20;
char* g_pEvict = nullptr;

void EvictCaches() {
    if (g_pEvict == nullptr) {
        g_pEvict = static_cast<char*>(
            ::VirtualAlloc(nullptr, kEvictBytes, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
        if (g_pEvict == nullptr) return;
    }
    for (size_t i = 0; i < kEvictBytes; i += 64) ++g_pEvict[i];
    ::Sleep(1);
}

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
SIZE g_sizeChart = {};

LRESULT CALLBACK BlitWndProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_ERASEBKGND) return 1;
    if (message != WM_PAINT) return ::DefWindowProcA(hWnd, message, wParam, lParam);
    PAINTSTRUCT ps;
    HDC hDC = ::BeginPaint(hWnd, &ps);
    ::BitBlt(hDC, 0, 0, g_sizeChart.cx, g_sizeChart.cy, g_hBlitSource, 0, 0, SRCCOPY);
    ::EndPaint(hWnd, &ps);
    return 0;
}

// The chart, its window context, and what it is measured against: a gray
// source of its size, a window of its shape that only copies that source,
// and the chart's own kept frame to draw the parts on, as OnPaint does: what
// the chart leaves selected on it between frames stays selected here too.
struct Rig {
    Rig(CMultiColorPlotCtrl& plot, HWND hDialog)
        : plot(plot), hChart(plot.m_hWnd), surface(PlotSteps::Frame(plot)) {
        RECT rc;
        ::GetClientRect(hChart, &rc);
        g_sizeChart = {rc.right, rc.bottom};
        Refill();
        ::SetWindowPos(hDialog, nullptr, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
        // Runs before the dialog's first paint, which posted messages
        // overtake; that paint also makes the chart's long-lived objects.
        ::RedrawWindow(hDialog, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
        hWndDC = ::GetDC(hChart);
        pWndDC = CDC::FromHandle(hWndDC);

        // The yardstick's source: plain Win32, whatever the framework does.
        hSource = ::CreateCompatibleDC(hWndDC);
        hSourceBitmap = ::CreateCompatibleBitmap(hWndDC, g_sizeChart.cx, g_sizeChart.cy);
        hOldSourceBitmap = ::SelectObject(hSource, hSourceBitmap);
        rcAll = {0, 0, g_sizeChart.cx, g_sizeChart.cy};
        ::FillRect(hSource, &rcAll, static_cast<HBRUSH>(::GetStockObject(GRAY_BRUSH)));
        g_hBlitSource = hSource;
        CreateBlitWindow(hDialog);
    }
    ~Rig() {
        ::SelectObject(hSource, hOldSourceBitmap);
        ::DeleteObject(hSourceBitmap);
        ::DeleteDC(hSource);
        ::ReleaseDC(hChart, hWndDC);
        ::DestroyWindow(hHost);
    }

    // A bordered child of the chart's size and rounded region, in a window
    // of its own beside the dialog: one that covered the chart would take
    // part in its paints.
    void CreateBlitWindow(HWND hDialog) {
        WNDCLASSA wc = {};
        wc.lpfnWndProc = &BlitWndProc;
        wc.lpszClassName = "VorlaneBenchBlit";
        ::RegisterClassA(&wc);
        RECT rcDialog;
        ::GetWindowRect(hDialog, &rcDialog);
        hHost = ::CreateWindowExA(WS_EX_TOOLWINDOW, "STATIC", "", WS_POPUP | WS_VISIBLE,
                                  rcDialog.right + 10, 0, g_sizeChart.cx + 22, g_sizeChart.cy + 22,
                                  nullptr, nullptr, nullptr, nullptr);
        hBlit = ::CreateWindowExA(0, wc.lpszClassName, "", WS_CHILD | WS_VISIBLE | WS_BORDER, 10,
                                  10, g_sizeChart.cx + 2, g_sizeChart.cy + 2, hHost, nullptr,
                                  nullptr, nullptr);
        ::SetWindowRgn(hBlit,
                       ::CreateRoundRectRgn(0, 0, g_sizeChart.cx, g_sizeChart.cy,
                                            CMultiColorPlotCtrl::kCornerEllipse,
                                            CMultiColorPlotCtrl::kCornerEllipse),
                       TRUE);
        ::UpdateWindow(hBlit);
    }

    // The program appends each fan speed reading four times, one per tick,
    // before the next is taken.
    float Next() { return FanSample(nSample++ / 4); }
    // The window filled again with such readings, after a figure that
    // appended one value many times.
    void Refill() {
        for (int i = 0; i < PlotSteps::PointCount(plot); ++i) plot.AppendValue(Next());
    }

    CMultiColorPlotCtrl& plot;
    HWND hChart;
    HDC hWndDC = nullptr;
    CDC* pWndDC = nullptr;
    HDC hSource = nullptr;
    HBITMAP hSourceBitmap = nullptr;
    HGDIOBJ hOldSourceBitmap = nullptr;
    RECT rcAll = {};
    HWND hHost = nullptr, hBlit = nullptr;
    // Made by the dialog's first paint, above.
    CDC& surface;
    int nSample = 0;
};

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

// A paint of the window as dispatched, to its end.
void Repaint(HWND hWnd) {
    ::InvalidateRect(hWnd, nullptr, FALSE);
    ::UpdateWindow(hWnd);
    ::GdiFlush();
}

struct Figures {
    Series blt, frame, inPlace, coldWhole, coldInPlace, coldCopy, surfaceOnly, grid, curve, caption,
        paint, paintDrawn, paintBlt, append;
    // DrawCurve takes the chart's lock and DrawCaption lets it go: both are
    // called in every sample of the curve, each timed on its own.
    std::vector<double> captionRound;
};

// OnPaint's work between BeginPaint and EndPaint, on the chart's own window
// context, drawing on its kept frame as OnPaint does.
void DrawFrame(Rig& r, bool bInPlace) {
    RECT rcClient;
    ::GetClientRect(r.hChart, &rcClient);
    CMemDC* pMemDC = new CMemDC(r.pWndDC, &rcClient, &r.surface);
    POINT ptOldBrushOrg = pMemDC->GetBrushOrg();
    PlotSteps::Layers(r.plot, pMemDC, bInPlace);
    pMemDC->SetBrushOrg(ptOldBrushOrg);
    delete pMemDC;
    ::GdiFlush();
}

// The time of one frame after a value appended, the one before it drawn
// whole and kept untimed; with bCold, caches evicted in between.
double NextFrame(Rig& r, bool bInPlace, bool bCold) {
    r.plot.AppendValue(r.Next());
    DrawFrame(r, false);
    r.plot.AppendValue(r.Next());
    if (bCold) EvictCaches();
    double t0 = bench::NowUs();
    DrawFrame(r, bInPlace);
    return bench::NowUs() - t0;
}

// The copy and the frame's drawing steps, outside the paint cycle.
void DefineDrawing(Rig& r, Figures& f) {
    f.blt.sample = Timed([&r] {
        ::BitBlt(r.hWndDC, 0, 0, g_sizeChart.cx, g_sizeChart.cy, r.hSource, 0, 0, SRCCOPY);
        ::GdiFlush();
    });
    // OnPaint's work between BeginPaint and EndPaint, on the chart's own
    // window context, drawing on its kept frame as OnPaint does.
    f.frame.sample = Timed([&r] { DrawFrame(r, false); });
    // A value appended before each, as the program's tick does; the frame
    // before it is drawn and kept untimed, so that this one can be in place.
    f.inPlace.sample = [&r](std::vector<double>& out) { out.push_back(NextFrame(r, true, false)); };
    f.coldWhole.sample = [&r](std::vector<double>& out) {
        out.push_back(NextFrame(r, false, true));
    };
    f.coldInPlace.sample = [&r](std::vector<double>& out) {
        out.push_back(NextFrame(r, true, true));
    };
    f.coldCopy.sample = [&r](std::vector<double>& out) {
        EvictCaches();
        double t0 = bench::NowUs();
        delete new CMemDC(r.pWndDC, &r.rcAll, &r.surface);
        ::GdiFlush();
        out.push_back(bench::NowUs() - t0);
    };
    f.surfaceOnly.sample = Timed([&r] {
        delete new CMemDC(r.pWndDC, &r.rcAll, &r.surface);
        ::GdiFlush();
    });
    f.grid.sample = Timed([&r] {
        PlotSteps::Grid(r.plot, &r.surface);
        ::GdiFlush();
    });
    f.curve.sample = [&r, &f](std::vector<double>& out) {
        double t0 = bench::NowUs();
        PlotSteps::Curve(r.plot, &r.surface);
        ::GdiFlush();
        double t1 = bench::NowUs();
        PlotSteps::Caption(r.plot, &r.surface);
        ::GdiFlush();
        out.push_back(t1 - t0);
        f.captionRound.push_back(bench::NowUs() - t1);
    };
}

// Paints as dispatched, and the append that marks the frame stale.
void DefinePaints(Rig& r, Figures& f) {
    // Nothing changed since the last paint: the kept frame is copied.
    f.paint.sample = Timed([&r] { Repaint(r.hChart); });
    // A value appended, untimed, before each paint: the frame is drawn.
    f.paintDrawn.sample = [&r](std::vector<double>& out) {
        r.plot.AppendValue(r.Next());
        double t0 = bench::NowUs();
        Repaint(r.hChart);
        out.push_back(bench::NowUs() - t0);
    };
    f.paintBlt.sample = Timed([&r] { Repaint(r.hBlit); });
    f.append.sample = [&r](std::vector<double>& out) {
        float fValue = r.Next();
        double t0 = bench::NowUs();
        for (int i = 0; i < kAppendsPerSample; ++i) r.plot.AppendValue(fValue);
        out.push_back((bench::NowUs() - t0) / kAppendsPerSample);
        r.Refill();
    };
}

// Every figure in every round; a round of warm-up first fills caches and
// the framework's spare objects.
void SampleRounds(Figures& f) {
    Series* order[] = {&f.blt,        &f.frame,       &f.inPlace, &f.coldWhole, &f.coldInPlace,
                       &f.coldCopy,   &f.surfaceOnly, &f.grid,    &f.curve,     &f.paint,
                       &f.paintDrawn, &f.paintBlt,    &f.append};
    for (int nRound = -1; nRound < kRounds; ++nRound) {
        for (Series* s : order) {
            std::vector<double> round;
            for (int i = 0; i < kPerRound; ++i) s->sample(round);
            if (nRound < 0) continue;
            s->all.insert(s->all.end(), round.begin(), round.end());
            s->roundMedians.push_back(bench::Summarize(round).median);
        }
        if (nRound >= 0) {
            f.caption.all.insert(f.caption.all.end(), f.captionRound.begin(), f.captionRound.end());
        }
        f.captionRound.clear();
    }
}

// One figure against another: the ratio of their medians, with the spread
// of the rounds' ratios.
void RatioRow(const char* pszFigure, const Series& a, const Series& b, int nDecimals,
              double target) {
    std::vector<double> ratios;
    for (size_t r = 0; r < b.roundMedians.size(); ++r) {
        ratios.push_back(a.roundMedians[r] / b.roundMedians[r]);
    }
    bench::Stats perRound = bench::Summarize(ratios);
    double ratio = bench::Summarize(a.all).median / bench::Summarize(b.all).median;
    std::string targetText = target > 0 ? bench::Format("≤ %g×", target) : "–";
    bench::Row(pszFigure, bench::Num(ratio, nDecimals) + "×",
               "IQR " + bench::Num(perRound.q1, nDecimals) + "–" +
                   bench::Num(perRound.q3, nDecimals) + "× (per-round ratios)",
               perRound.n, targetText.c_str(), target > 0 ? bench::Verdict(ratio <= target) : "–");
}

void Report(const Figures& f, int nPoints) {
    bench::TimeRow(bench::Format("BitBlt %ld×%ld, memory DC → chart window DC", g_sizeChart.cx,
                                 g_sizeChart.cy),
                   bench::Summarize(f.blt.all));
    bench::TimeRow(
        "Chart frame: OnPaint's drawing on the chart's window DC (surface, grid, curve, "
        "captions, copy)",
        bench::Summarize(f.frame.all));
    RatioRow("Chart frame ÷ BitBlt", f.frame, f.blt, 1, 15);
    bench::TimeRow(
        "Chart frame drawn in place, a value appended: the grid put back and the layers drawn "
        "again only where they changed",
        bench::Summarize(f.inPlace.all));
    RatioRow("Chart frame drawn in place ÷ BitBlt", f.inPlace, f.blt, 1, 0);
    bench::TimeRow("Chart frame, whole, a value appended, caches cold (64 MiB touched before)",
                   bench::Summarize(f.coldWhole.all));
    bench::TimeRow("Chart frame drawn in place, the same, caches cold",
                   bench::Summarize(f.coldInPlace.all));
    RatioRow("Chart frame, caches cold: in place ÷ whole", f.coldInPlace, f.coldWhole, 2, 0);
    bench::TimeRow(
        "Kept frame lent and copied, nothing drawn, caches cold (a paint with no change)",
        bench::Summarize(f.coldCopy.all));
    bench::TimeRow("· part: kept surface lent and copied, nothing drawn",
                   bench::Summarize(f.surfaceOnly.all));
    bench::TimeRow("· part: grid (DrawGrid)", bench::Summarize(f.grid.all));
    bench::TimeRow(bench::Format("· part: curve (DrawCurve, %d points)", nPoints),
                   bench::Summarize(f.curve.all));
    bench::TimeRow("· part: captions (DrawCaption)", bench::Summarize(f.caption.all));
    bench::TimeRow(
        "Chart WM_PAINT as dispatched (InvalidateRect + UpdateWindow), a value "
        "appended before each: the frame drawn",
        bench::Summarize(f.paintDrawn.all));
    bench::TimeRow("Chart WM_PAINT as dispatched, nothing changed: the kept frame copied",
                   bench::Summarize(f.paint.all));
    bench::TimeRow("WM_PAINT of one same-size BitBlt, same window shape",
                   bench::Summarize(f.paintBlt.all));
    RatioRow("Chart WM_PAINT, frame drawn ÷ WM_PAINT of one BitBlt", f.paintDrawn, f.paintBlt, 2,
             0);
    RatioRow("Chart WM_PAINT, kept frame ÷ WM_PAINT of one BitBlt", f.paint, f.paintBlt, 2, 1.1);
    bench::TimeRow(bench::Format("AppendValue on a full window (%d points), per call", nPoints),
                   bench::Summarize(f.append.all));
    bench::Note(
        "bench_chart: %d rounds x %d samples of each figure, interleaved; AppendValue "
        "timed in batches of %d calls",
        kRounds, kPerRound, kAppendsPerSample);
}

class CChartBench : public CBenchDialog {
  protected:
    void Run() override {
        Rig rig(m_plot, m_hWnd);
        if (rig.surface.GetSafeHdc() == nullptr) {
            bench::Note("bench_chart: the chart's first paint made no kept frame");
            return;
        }
        Figures figures;
        DefineDrawing(rig, figures);
        DefinePaints(rig, figures);
        SampleRounds(figures);
        Report(figures, PlotSteps::PointCount(m_plot));
    }
};

}  // namespace

int main() {
    UseOwnSimulatedEc();
    WrSimReset(1);
    CChartBench dlg;
    dlg.RunModal();
    return 0;
}
