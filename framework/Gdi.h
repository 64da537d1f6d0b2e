// Drawing side of the framework: wrappers of GDI objects and device contexts.
// A wrapper owns at most one handle and deletes it when destroyed. FromHandle
// and SelectObject hand out non-owning wrappers kept in one table for the
// whole process, under a lock, so any thread may draw; an entry leaves the
// table when the owning wrapper deletes or detaches its handle, so the table
// does not grow from one paint to the next.
#pragma once

#include <windows.h>

#include "framework/Wnd.h"

class CGdiObject : public CObject {
  public:
    CGdiObject() = default;
    ~CGdiObject() override;

    HGDIOBJ m_hObject = nullptr;

    operator HGDIOBJ() const { return m_hObject; }
    HGDIOBJ GetSafeHandle() const { return m_hObject; }

    // Takes ownership of the handle, deleting a different one held before.
    BOOL Attach(HGDIOBJ hObject);
    HGDIOBJ Detach();
    BOOL DeleteObject();

    // A non-owning wrapper of the object's own kind (pen, brush, font,
    // bitmap), valid until the object's owning wrapper lets the handle go.
    // Null for a null handle.
    static CGdiObject* FromHandle(HGDIOBJ hObject);

    // Number of non-owning wrappers the process holds, for leak checks.
    static size_t GetTemporaryCount();

  protected:
    // Called before a Create: the wrapper must be empty.
    void AssertEmpty() const;

  private:
    // Empties the wrapper and drops the handle's non-owning wrapper.
    HGDIOBJ Release();
};

class CPen : public CGdiObject {
  public:
    static CPen* FromHandle(HPEN hPen);
    operator HPEN() const { return static_cast<HPEN>(m_hObject); }
    BOOL CreatePen(int nPenStyle, int nWidth, COLORREF crColor);
};

class CBitmap;

class CBrush : public CGdiObject {
  public:
    static CBrush* FromHandle(HBRUSH hBrush);
    operator HBRUSH() const { return static_cast<HBRUSH>(m_hObject); }
    BOOL CreatePatternBrush(CBitmap* pBitmap);
};

class CFont : public CGdiObject {
  public:
    static CFont* FromHandle(HFONT hFont);
    operator HFONT() const { return static_cast<HFONT>(m_hObject); }
    BOOL CreateFont(int nHeight, int nWidth, int nEscapement, int nOrientation, int nWeight,
                    BYTE bItalic, BYTE bUnderline, BYTE cStrikeOut, BYTE nCharSet,
                    BYTE nOutPrecision, BYTE nClipPrecision, BYTE nQuality, BYTE nPitchAndFamily,
                    LPCSTR lpszFacename);
};

class CDC;

class CBitmap : public CGdiObject {
  public:
    static CBitmap* FromHandle(HBITMAP hBitmap);
    operator HBITMAP() const { return static_cast<HBITMAP>(m_hObject); }
    // A bitmap of the given size in the pixel format of pDC.
    BOOL CreateCompatibleBitmap(CDC* pDC, int nWidth, int nHeight);
};

class CRgn : public CGdiObject {
  public:
    operator HRGN() const { return static_cast<HRGN>(m_hObject); }
    BOOL CreateRoundRectRgn(int x1, int y1, int x2, int y2, int x3, int y3);
};

// Drawing goes to m_hDC; queries of the context's state (colours, modes,
// coordinate conversions, clip box) go to m_hAttribDC. Attach sets both.
class CDC : public CObject {
  public:
    CDC() = default;
    // Deletes an attached context.
    ~CDC() override;

    HDC m_hDC = nullptr;
    HDC m_hAttribDC = nullptr;
    BOOL m_bPrinting = FALSE;

    operator HDC() const { return m_hDC; }
    HDC GetSafeHdc() const { return m_hDC; }
    BOOL IsPrinting() const { return m_bPrinting; }

    // A non-owning wrapper of a context the caller keeps; null for null.
    static CDC* FromHandle(HDC hDC);

    BOOL Attach(HDC hDC);
    HDC Detach();
    BOOL DeleteDC();
    BOOL CreateCompatibleDC(CDC* pDC);

    // Each returns a non-owning wrapper of the object selected before.
    CPen* SelectObject(CPen* pPen);
    CBrush* SelectObject(CBrush* pBrush);
    CFont* SelectObject(CFont* pFont);
    CBitmap* SelectObject(CBitmap* pBitmap);
    static CGdiObject* SelectGdiObject(HDC hDC, HGDIOBJ hObject);

    int GetClipBox(LPRECT lpRect) const { return ::GetClipBox(m_hAttribDC, lpRect); }
    void LPtoDP(LPPOINT lpPoints, int nCount = 1) const { ::LPtoDP(m_hAttribDC, lpPoints, nCount); }
    void LPtoDP(LPRECT lpRect) const { LPtoDP(reinterpret_cast<LPPOINT>(lpRect), 2); }
    void DPtoLP(LPPOINT lpPoints, int nCount = 1) const { ::DPtoLP(m_hAttribDC, lpPoints, nCount); }
    void DPtoLP(LPRECT lpRect) const { DPtoLP(reinterpret_cast<LPPOINT>(lpRect), 2); }
    int GetMapMode() const { return ::GetMapMode(m_hAttribDC); }
    int SetMapMode(int nMapMode) { return ::SetMapMode(m_hDC, nMapMode); }
    POINT SetWindowOrg(int x, int y);

    COLORREF GetBkColor() const { return ::GetBkColor(m_hAttribDC); }
    COLORREF GetTextColor() const { return ::GetTextColor(m_hAttribDC); }
    int GetBkMode() const { return ::GetBkMode(m_hAttribDC); }
    COLORREF SetTextColor(COLORREF crColor) { return ::SetTextColor(m_hDC, crColor); }
    int SetBkMode(int nBkMode) { return ::SetBkMode(m_hDC, nBkMode); }
    POINT GetBrushOrg() const;
    POINT SetBrushOrg(int x, int y);
    POINT SetBrushOrg(POINT pt) { return SetBrushOrg(pt.x, pt.y); }

    // Fills with a colour; the context's background colour is left as it was.
    // False when GDI refused the fill.
    BOOL FillSolidRect(LPCRECT lpRect, COLORREF crColor);
    BOOL FillSolidRect(int x, int y, int cx, int cy, COLORREF crColor);
    void FillRect(LPCRECT lpRect, CBrush* pBrush);
    BOOL BitBlt(int x, int y, int nWidth, int nHeight, CDC* pSrcDC, int xSrc, int ySrc,
                DWORD dwRop);
    BOOL Polyline(const POINT* lpPoints, int nCount) { return ::Polyline(m_hDC, lpPoints, nCount); }
    BOOL PolyPolyline(const POINT* lpPoints, const DWORD* lpCounts, int nCount) {
        return ::PolyPolyline(m_hDC, lpPoints, lpCounts, static_cast<DWORD>(nCount));
    }
    BOOL SetPixelV(int x, int y, COLORREF crColor) { return ::SetPixelV(m_hDC, x, y, crColor); }
    BOOL TextOut(int x, int y, LPCSTR lpszString, int nCount) {
        return ::TextOutA(m_hDC, x, y, lpszString, nCount);
    }
    BOOL DrawIcon(int x, int y, HICON hIcon) { return ::DrawIcon(m_hDC, x, y, hIcon); }
};

// The paint context of one WM_PAINT: BeginPaint on construction, EndPaint on
// destruction, both with the window given at construction.
class CPaintDC : public CDC {
  public:
    explicit CPaintDC(CWnd* pWnd);
    ~CPaintDC() override;

    PAINTSTRUCT m_ps;

  protected:
    HWND m_hWnd;
};
