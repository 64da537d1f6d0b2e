// Cost of one chart frame against a block copy of the same size, on a chart
// configured as the main window configures it (458 x 161 client pixels).
// Prints the median of each measurement in microseconds.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "chart/MemDC.h"
#include "chart/MultiColorPlotCtrl.h"

namespace {

class BenchPlot : public CMultiColorPlotCtrl {
  public:
    using CMultiColorPlotCtrl::DrawCaption;
    using CMultiColorPlotCtrl::DrawCurve;
    using CMultiColorPlotCtrl::DrawGrid;
};

double Now() {
    LARGE_INTEGER freq, count;
    ::QueryPerformanceFrequency(&freq);
    ::QueryPerformanceCounter(&count);
    return static_cast<double>(count.QuadPart) * 1e6 / static_cast<double>(freq.QuadPart);
}

template <class F>
double MedianUs(F step, int nRuns = 400) {
    std::vector<double> times;
    for (int i = 0; i < nRuns; ++i) {
        double t0 = Now();
        step();
        times.push_back(Now() - t0);
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

// A window whose paint is one block copy of the chart's size: what any
// WM_PAINT costs under Wine before the chart draws anything.
HDC g_hBlitSource = nullptr;

LRESULT CALLBACK BlitWndProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message != WM_PAINT) return ::DefWindowProcA(hWnd, message, wParam, lParam);
    PAINTSTRUCT ps;
    HDC hDC = ::BeginPaint(hWnd, &ps);
    ::BitBlt(hDC, 0, 0, 458, 161, g_hBlitSource, 0, 0, SRCCOPY);
    ::EndPaint(hWnd, &ps);
    return 0;
}

double PaintUs(HWND hWnd) {
    return MedianUs([&] {
        ::InvalidateRect(hWnd, nullptr, FALSE);
        ::UpdateWindow(hWnd);
        ::GdiFlush();
    });
}

}  // namespace

int main() {
    const int kWidth = 458, kHeight = 161;
    HWND hHost = ::CreateWindowExA(0, "STATIC", "", WS_POPUP | WS_VISIBLE, 10, 10, kWidth + 20,
                                   kHeight + 20, nullptr, nullptr, nullptr, nullptr);
    HWND hStatic = ::CreateWindowExA(0, "STATIC", "", WS_CHILD | WS_VISIBLE, 10, 10, kWidth,
                                     kHeight, hHost, nullptr, nullptr, nullptr);
    BenchPlot plot;
    plot.SubclassWindow(hStatic);
    plot.SetTitle("Fan Speed");
    plot.SetUnit(" RPM ");
    plot.SetValueRange(0.0f, 7000.0f);
    plot.SetPointSpacing(4);
    plot.SetGridStepX(15);
    plot.SetCaptionMode(4);
    plot.SetPlotStyle(1);
    for (int i = 0; i < 200; ++i) plot.AppendValue(static_cast<float>(2000 + (i * 37) % 900));

    HDC hWndDC = ::GetDC(hStatic);
    CDC* pWndDC = CDC::FromHandle(hWndDC);
    CDC source;
    source.CreateCompatibleDC(pWndDC);
    CBitmap bitmap;
    bitmap.CreateCompatibleBitmap(pWndDC, kWidth, kHeight);
    CBitmap* pOld = source.SelectObject(&bitmap);
    RECT rcClient = {0, 0, kWidth, kHeight};

    double blt = MedianUs([&] {
        ::BitBlt(hWndDC, 0, 0, kWidth, kHeight, source.m_hDC, 0, 0, SRCCOPY);
        ::GdiFlush();
    });
    double paint = PaintUs(hStatic);
    WNDCLASSA wc = {};
    wc.lpfnWndProc = &BlitWndProc;
    wc.lpszClassName = "VorlaneBenchBlit";
    ::RegisterClassA(&wc);
    g_hBlitSource = source.m_hDC;
    HWND hBlit = ::CreateWindowExA(0, wc.lpszClassName, "", WS_CHILD | WS_VISIBLE, 10, 10, kWidth,
                                   kHeight, hHost, nullptr, nullptr, nullptr);
    double blitPaint = PaintUs(hBlit);
    ::DestroyWindow(hBlit);
    double surface = MedianUs([&] {
        CMemDC memDC(pWndDC, &rcClient);
        ::GdiFlush();
    });
    double grid = MedianUs([&] { plot.DrawGrid(&source); });
    double curveCaption = MedianUs([&] {
        plot.DrawCurve(&source);
        plot.DrawCaption(&source);
    });
    double frame = MedianUs([&] {
        CMemDC* pMemDC = new CMemDC(pWndDC, &rcClient);
        plot.DrawGrid(pMemDC);
        plot.DrawCurve(pMemDC);
        plot.DrawCaption(pMemDC);
        delete pMemDC;
        ::GdiFlush();
    });

    printf("BitBlt %dx%d            %8.1f us\n", kWidth, kHeight, blt);
    printf("WM_PAINT of the chart       %8.1f us  (%.1fx BitBlt)\n", paint, paint / blt);
    printf("WM_PAINT of one BitBlt      %8.1f us  (%.1fx BitBlt)\n", blitPaint, blitPaint / blt);
    printf("frame on window DC          %8.1f us  (%.1fx BitBlt)\n", frame, frame / blt);
    printf("  surface make+copy+free    %8.1f us\n", surface);
    printf("  grid                      %8.1f us\n", grid);
    printf("  curve + caption           %8.1f us\n", curveCaption);

    source.SelectObject(pOld);
    ::ReleaseDC(hStatic, hWndDC);
    ::DestroyWindow(hHost);
    return 0;
}
