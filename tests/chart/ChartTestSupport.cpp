#include "ChartTestSupport.h"

DibTarget::DibTarget(int nWidth, int nHeight, COLORREF crFill)
    : m_nWidth(nWidth), m_nHeight(nHeight), m_pBits(nullptr) {
    BITMAPINFO bmi = {};
    bmi.bmiHeader.biSize = sizeof(bmi.bmiHeader);
    bmi.bmiHeader.biWidth = nWidth;
    bmi.bmiHeader.biHeight = -nHeight;
    bmi.bmiHeader.biPlanes = 1;
    bmi.bmiHeader.biBitCount = 32;
    bmi.bmiHeader.biCompression = BI_RGB;
    m_hDC = ::CreateCompatibleDC(nullptr);
    m_hBitmap = ::CreateDIBSection(m_hDC, &bmi, DIB_RGB_COLORS, reinterpret_cast<void**>(&m_pBits),
                                   nullptr, 0);
    m_hOldBitmap = ::SelectObject(m_hDC, m_hBitmap);
    RECT rc = {0, 0, nWidth, nHeight};
    HBRUSH hBrush = ::CreateSolidBrush(crFill);
    ::FillRect(m_hDC, &rc, hBrush);
    ::DeleteObject(hBrush);
}

DibTarget::~DibTarget() {
    ::SelectObject(m_hDC, m_hOldBitmap);
    ::DeleteObject(m_hBitmap);
    ::DeleteDC(m_hDC);
}

std::vector<int> DibTarget::ColumnsOf(int y, COLORREF cr) const {
    std::vector<int> columns;
    for (int x = 0; x < m_nWidth; ++x) {
        if (Pixel(x, y) == cr) columns.push_back(x);
    }
    return columns;
}

std::vector<int> DibTarget::RowsOf(int x, COLORREF cr) const {
    std::vector<int> rows;
    for (int y = 0; y < m_nHeight; ++y) {
        if (Pixel(x, y) == cr) rows.push_back(y);
    }
    return rows;
}

int DibTarget::CountOf(COLORREF cr) const {
    int n = 0;
    for (int y = 0; y < m_nHeight; ++y) n += static_cast<int>(ColumnsOf(y, cr).size());
    return n;
}

bool DibTarget::SamePixels(const DibTarget& other) const {
    ::GdiFlush();
    if (m_nWidth != other.m_nWidth || m_nHeight != other.m_nHeight) return false;
    for (int i = 0; i < m_nWidth * m_nHeight; ++i) {
        if (m_pBits[i] != other.m_pBits[i]) return false;
    }
    return true;
}

int FreeGdiSlots() {
    std::vector<HGDIOBJ> pens;
    pens.reserve(70000);
    while (HPEN hPen = ::CreatePen(PS_SOLID, 1, RGB(1, 2, 3))) pens.push_back(hPen);
    for (HGDIOBJ h : pens) ::DeleteObject(h);
    return static_cast<int>(pens.size());
}

GdiExhauster::GdiExhauster(int nKeepFree) {
    m_objects.reserve(70000);
    while (HPEN hPen = ::CreatePen(PS_SOLID, 1, RGB(1, 2, 3))) m_objects.push_back(hPen);
    for (int i = 0; i < nKeepFree && !m_objects.empty(); ++i) {
        ::DeleteObject(m_objects.back());
        m_objects.pop_back();
    }
}

GdiExhauster::~GdiExhauster() {
    for (HGDIOBJ h : m_objects) ::DeleteObject(h);
}

LivePlot::LivePlot(int nWidth, int nHeight) {
    m_hHost = ::CreateWindowExA(WS_EX_TOOLWINDOW, "STATIC", "", WS_POPUP | WS_VISIBLE, 20, 20,
                                nWidth + 40, nHeight + 40, nullptr, nullptr, nullptr, nullptr);
    m_hStatic = ::CreateWindowExA(0, "STATIC", "chart", WS_CHILD | WS_VISIBLE, 20, 20, nWidth,
                                  nHeight, m_hHost, nullptr, nullptr, nullptr);
    plot.SubclassWindow(m_hStatic);
}

LivePlot::~LivePlot() {
    ::DestroyWindow(m_hHost);
}

void LivePlot::Paint() {
    ::InvalidateRect(m_hStatic, nullptr, FALSE);
    ::UpdateWindow(m_hStatic);
}

namespace {

struct ThreadCall {
    void (*fn)(TestPlot*);
    TestPlot* pPlot;
};

DWORD WINAPI RunThreadCall(LPVOID pParam) {
    ThreadCall* pCall = static_cast<ThreadCall*>(pParam);
    pCall->fn(pCall->pPlot);
    return 0;
}

}  // namespace

bool FinishesOnOtherThread(void (*fn)(TestPlot*), TestPlot* pPlot) {
    ThreadCall call = {fn, pPlot};
    HANDLE hThread = ::CreateThread(nullptr, 0, &RunThreadCall, &call, 0, nullptr);
    // Generous: the bound tells a held lock from a slow machine.
    bool bDone = ::WaitForSingleObject(hThread, 20000) == WAIT_OBJECT_0;
    if (!bDone) ::TerminateThread(hThread, 1);
    ::CloseHandle(hThread);
    return bDone;
}
