// Drawing targets and GDI counts for the tests that draw: a memory context
// of exact format, the process's free GDI handle slots (GetGuiResources is a
// stub under Wine), and bounded waits on other threads and on messages.
#pragma once

#include <windows.h>

#include <vector>

#include "framework/Gdi.h"

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
    std::vector<int> ColumnsOf(int y, COLORREF cr) const { return Along(cr, m_cx, 0, y, 1, 0); }
    std::vector<int> RowsOf(int x, COLORREF cr) const { return Along(cr, m_cy, x, 0, 0, 1); }
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
    // The steps i < n at which (x + i dx, y + i dy) has the colour cr.
    std::vector<int> Along(COLORREF cr, int n, int x, int y, int dx, int dy) const {
        std::vector<int> v;
        for (int i = 0; i < n; ++i) {
            if (Pixel(x + i * dx, y + i * dy) == cr) v.push_back(i);
        }
        return v;
    }
    int m_cx, m_cy;
    HDC m_hDC;
    HBITMAP m_hBitmap;
    HGDIOBJ m_hOld;
    void* m_pBits = nullptr;
};

// Fills the process's GDI handle table with pens, leaving nKeepFree slots.
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
