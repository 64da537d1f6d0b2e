#include "framework/Gdi.h"

#include <cassert>
#include <unordered_map>
#include <vector>

#include "framework/StaticLock.h"
#include "framework/Wnd.h"

namespace {

// The tables and recyclers below serve every thread that draws: GDI handles
// belong to the process, and a handle selected on one thread may be deleted
// by its owning wrapper on another. One lock guards them all, taken around
// each whole operation (a lookup and the insertion that follows it), so two
// threads never make two wrappers for one handle.
using TableLock = CStaticLock<struct GdiTablesTag>;

// A table of non-owning wrappers by handle. An entry whose handle has died
// behind the wrappers' back (deleted by a raw Win32 call) is swept out when
// the table grows past a few dozen entries.
template <class THandle, class TWrapper>
class TempMap {
  public:
    TWrapper* Find(THandle h) const {
        auto it = m_map.find(h);
        return it != m_map.end() ? it->second : nullptr;
    }

    void Insert(THandle h, TWrapper* pWrapper) {
        if (m_map.size() >= kSweepAt) Sweep();
        TWrapper*& slot = m_map[h];
        if (slot != nullptr) Release(slot);
        slot = pWrapper;
    }

    // Drops the entry for h unless it is pKeep: a non-owning wrapper that
    // deleted its own handle stays valid as an empty wrapper.
    void Remove(THandle h, const TWrapper* pKeep) {
        auto it = m_map.find(h);
        if (it == m_map.end() || it->second == pKeep) return;
        Release(it->second);
        m_map.erase(it);
    }

    size_t Size() const { return m_map.size(); }

  private:
    static constexpr size_t kSweepAt = 64;

    static void Release(TWrapper* pWrapper);

    void Sweep() {
        for (auto it = m_map.begin(); it != m_map.end();) {
            if (::GetObjectType(it->first) == 0) {
                Release(it->second);
                it = m_map.erase(it);
            } else {
                ++it;
            }
        }
    }

    std::unordered_map<THandle, TWrapper*> m_map;
};

template <>
void TempMap<HGDIOBJ, CGdiObject>::Release(CGdiObject* pWrapper) {
    pWrapper->m_hObject = nullptr;
    delete pWrapper;
}

template <>
void TempMap<HDC, CDC>::Release(CDC* pWrapper) {
    pWrapper->m_hDC = pWrapper->m_hAttribDC = nullptr;
    delete pWrapper;
}

using GdiMap = TempMap<HGDIOBJ, CGdiObject>;
using DcMap = TempMap<HDC, CDC>;

// Never destroyed: the process frees everything at exit anyway.
GdiMap& TempGdiMap() {
    static GdiMap* map = new GdiMap;
    return *map;
}

DcMap& TempDcMap() {
    static DcMap* map = new DcMap;
    return *map;
}

template <class T>
T* TempGdiObject(HGDIOBJ h) {
    if (h == nullptr) return nullptr;
    TableLock lock;
    GdiMap& map = TempGdiMap();
    if (CGdiObject* pFound = map.Find(h)) {
        // A handle value can come back for an object of another kind once
        // the first one is gone; then the entry is replaced.
        if (T* p = dynamic_cast<T*>(pFound)) {
            p->m_hObject = h;
            return p;
        }
    }
    T* p = new T;
    p->m_hObject = h;
    map.Insert(h, p);
    return p;
}

void ForgetTempGdiObject(HGDIOBJ h, const CGdiObject* pKeep) {
    if (h == nullptr) return;
    TableLock lock;
    TempGdiMap().Remove(h, pKeep);
}

void ForgetTempDC(HDC h, const CDC* pKeep) {
    TableLock lock;
    TempDcMap().Remove(h, pKeep);
}

// A display context of 24 or 32 bits per pixel, for which a DIB section of
// the same format stands in for a device-dependent bitmap: Wine makes and
// selects such a DIB in a few microseconds, a compatible bitmap in hundreds.
// The display's depth is read once: Wine answers BITSPIXEL in about 150 us.
// After a change of display mode the bitmaps keep the old depth, and block
// copies convert them.
WORD DisplayDibBitCount(HDC hDC) {
    if (hDC == nullptr || ::GetObjectType(hDC) != OBJ_DC) return 0;
    if (::GetDeviceCaps(hDC, TECHNOLOGY) != DT_RASDISPLAY) return 0;
    static const int s_nBits = ::GetDeviceCaps(hDC, BITSPIXEL) * ::GetDeviceCaps(hDC, PLANES);
    return s_nBits == 32 || s_nBits == 24 ? static_cast<WORD>(s_nBits) : 0;
}

// Fresh pixel memory costs a page fault per 4 KB on first touch: for a
// chart-sized bitmap about 100 us under Wine, as much as drawing a frame.
// So the display-format DIBs made below are not freed when their wrapper
// deletes them; the last one is kept and handed out again for the next
// bitmap of the same size and depth. Like any new compatible bitmap, a
// recycled one has undefined contents.
class DibRecycler {
  public:
    HBITMAP Take(int cx, int cy, WORD nBits) {
        TableLock lock;
        HBITMAP hBitmap = nullptr;
        if (m_spare.hBitmap != nullptr && m_spare.cx == cx && m_spare.cy == cy &&
            m_spare.nBits == nBits) {
            hBitmap = m_spare.hBitmap;
            m_spare.hBitmap = nullptr;
        } else {
            hBitmap = Create(cx, cy, nBits);
        }
        if (hBitmap != nullptr) m_owned.push_back(hBitmap);
        return hBitmap;
    }

    // A wrapper lets go of one of our DIBs without deleting it: it is no
    // longer ours to recycle.
    void Forget(HGDIOBJ hObject) {
        TableLock lock;
        for (size_t i = 0; i < m_owned.size(); ++i) {
            if (m_owned[i] == hObject) {
                m_owned.erase(m_owned.begin() + static_cast<std::ptrdiff_t>(i));
                return;
            }
        }
    }

    // Keeps one of our DIBs as the spare instead of deleting it.
    bool Park(HGDIOBJ hObject) {
        TableLock lock;
        size_t nOwned = m_owned.size();
        Forget(hObject);
        if (m_owned.size() == nOwned) return false;
        if (m_spare.hBitmap != nullptr) ::DeleteObject(m_spare.hBitmap);
        BITMAP bm = {};
        ::GetObjectA(hObject, sizeof(bm), &bm);
        m_spare = {static_cast<HBITMAP>(hObject), bm.bmWidth, bm.bmHeight, bm.bmBitsPixel};
        return true;
    }

  private:
    static HBITMAP Create(int cx, int cy, WORD nBits) {
        BITMAPINFO bmi = {};
        bmi.bmiHeader.biSize = sizeof(bmi.bmiHeader);
        bmi.bmiHeader.biWidth = cx;
        bmi.bmiHeader.biHeight = -cy;
        bmi.bmiHeader.biPlanes = 1;
        bmi.bmiHeader.biBitCount = nBits;
        bmi.bmiHeader.biCompression = BI_RGB;
        void* pBits = nullptr;
        return ::CreateDIBSection(nullptr, &bmi, DIB_RGB_COLORS, &pBits, nullptr, 0);
    }

    struct Spare {
        HBITMAP hBitmap;
        int cx, cy;
        WORD nBits;
    };
    Spare m_spare = {nullptr, 0, 0, 0};
    std::vector<HBITMAP> m_owned;
};

DibRecycler* Recycler() {
    static DibRecycler* recycler = new DibRecycler;
    return recycler;
}

// A display context with the default layout: every memory context made for
// one is alike, whichever display context it was made for.
bool IsPlainDisplayDC(HDC hDC) {
    return hDC != nullptr && ::GetObjectType(hDC) == OBJ_DC &&
           ::GetDeviceCaps(hDC, TECHNOLOGY) == DT_RASDISPLAY && ::GetLayout(hDC) == 0;
}

// Wine takes about 10 us to make a memory context (its display driver builds
// a part of every new one), as long as a block copy of the chart's whole
// area. So a memory context made for a display context is not deleted when
// its wrapper lets it go: RestoreDC puts it back in the state SaveDC recorded
// when it was new (default objects selected, so its bitmap is free again;
// default modes, colours, origins and clipping), and the next memory context
// asked for a display context is that one.
class DcRecycler {
  public:
    HDC Take(HDC hTarget) {
        TableLock lock;
        HDC hDC = m_hSpare;
        m_hSpare = nullptr;
        if (hDC == nullptr) {
            hDC = ::CreateCompatibleDC(hTarget);
            // Without its first state on record a context cannot be recycled.
            if (hDC == nullptr || ::SaveDC(hDC) != 1) return hDC;
        }
        m_owned.push_back(hDC);
        return hDC;
    }

    // A wrapper lets go of one of our contexts without deleting it: it is no
    // longer ours to recycle.
    bool Forget(HDC hDC) {
        TableLock lock;
        for (size_t i = 0; i < m_owned.size(); ++i) {
            if (m_owned[i] == hDC) {
                m_owned.erase(m_owned.begin() + static_cast<std::ptrdiff_t>(i));
                return true;
            }
        }
        return false;
    }

    // Keeps one of our contexts, reset, as the spare instead of deleting it.
    bool Park(HDC hDC) {
        TableLock lock;
        if (!Forget(hDC)) return false;
        if (!::RestoreDC(hDC, 1) || ::SaveDC(hDC) != 1) return false;
        if (m_hSpare != nullptr) ::DeleteDC(m_hSpare);
        m_hSpare = hDC;
        return true;
    }

  private:
    HDC m_hSpare = nullptr;
    std::vector<HDC> m_owned;
};

DcRecycler* DcSpares() {
    static DcRecycler* recycler = new DcRecycler;
    return recycler;
}

}  // namespace

// CGdiObject -------------------------------------------------------------------

CGdiObject::~CGdiObject() {
    DeleteObject();
}

BOOL CGdiObject::Attach(HGDIOBJ hObject) {
    if (hObject == nullptr) return FALSE;
    if (m_hObject != hObject) DeleteObject();
    m_hObject = hObject;
    return TRUE;
}

HGDIOBJ CGdiObject::Detach() {
    HGDIOBJ hObject = Release();
    if (hObject != nullptr) Recycler()->Forget(hObject);
    return hObject;
}

BOOL CGdiObject::DeleteObject() {
    HGDIOBJ hObject = Release();
    if (hObject == nullptr) return FALSE;
    if (Recycler()->Park(hObject)) return TRUE;
    return ::DeleteObject(hObject);
}

HGDIOBJ CGdiObject::Release() {
    HGDIOBJ hObject = m_hObject;
    m_hObject = nullptr;
    ForgetTempGdiObject(hObject, this);
    return hObject;
}

void CGdiObject::AssertEmpty() const {
    assert(m_hObject == nullptr);
}

CGdiObject* CGdiObject::FromHandle(HGDIOBJ hObject) {
    switch (::GetObjectType(hObject)) {
        case OBJ_PEN:
        case OBJ_EXTPEN:
            return TempGdiObject<CPen>(hObject);
        case OBJ_BRUSH:
            return TempGdiObject<CBrush>(hObject);
        case OBJ_FONT:
            return TempGdiObject<CFont>(hObject);
        case OBJ_BITMAP:
            return TempGdiObject<CBitmap>(hObject);
        default:
            return TempGdiObject<CGdiObject>(hObject);
    }
}

size_t CGdiObject::GetTemporaryCount() {
    TableLock lock;
    return TempGdiMap().Size() + TempDcMap().Size();
}

CPen* CPen::FromHandle(HPEN hPen) {
    return TempGdiObject<CPen>(hPen);
}

BOOL CPen::CreatePen(int nPenStyle, int nWidth, COLORREF crColor) {
    AssertEmpty();
    return Attach(::CreatePen(nPenStyle, nWidth, crColor));
}

CBrush* CBrush::FromHandle(HBRUSH hBrush) {
    return TempGdiObject<CBrush>(hBrush);
}

BOOL CBrush::CreatePatternBrush(CBitmap* pBitmap) {
    AssertEmpty();
    return Attach(::CreatePatternBrush(*pBitmap));
}

CFont* CFont::FromHandle(HFONT hFont) {
    return TempGdiObject<CFont>(hFont);
}

BOOL CFont::CreateFont(int nHeight, int nWidth, int nEscapement, int nOrientation, int nWeight,
                       BYTE bItalic, BYTE bUnderline, BYTE cStrikeOut, BYTE nCharSet,
                       BYTE nOutPrecision, BYTE nClipPrecision, BYTE nQuality, BYTE nPitchAndFamily,
                       LPCSTR lpszFacename) {
    AssertEmpty();
    return Attach(::CreateFontA(nHeight, nWidth, nEscapement, nOrientation, nWeight, bItalic,
                                bUnderline, cStrikeOut, nCharSet, nOutPrecision, nClipPrecision,
                                nQuality, nPitchAndFamily, lpszFacename));
}

CBitmap* CBitmap::FromHandle(HBITMAP hBitmap) {
    return TempGdiObject<CBitmap>(hBitmap);
}

BOOL CBitmap::CreateCompatibleBitmap(CDC* pDC, int nWidth, int nHeight) {
    AssertEmpty();
    HDC hDC = pDC->m_hDC;
    WORD nBits = DisplayDibBitCount(hDC);
    if (nBits != 0 && nWidth > 0 && nHeight > 0) {
        HBITMAP hDib = Recycler()->Take(nWidth, nHeight, nBits);
        if (hDib != nullptr) return Attach(hDib);
    }
    return Attach(::CreateCompatibleBitmap(hDC, nWidth, nHeight));
}

BOOL CRgn::CreateRoundRectRgn(int x1, int y1, int x2, int y2, int x3, int y3) {
    AssertEmpty();
    return Attach(::CreateRoundRectRgn(x1, y1, x2, y2, x3, y3));
}

// CDC ----------------------------------------------------------------------------

CDC::~CDC() {
    DeleteDC();
}

CDC* CDC::FromHandle(HDC hDC) {
    if (hDC == nullptr) return nullptr;
    TableLock lock;
    DcMap& map = TempDcMap();
    CDC* pDC = map.Find(hDC);
    if (pDC == nullptr) {
        pDC = new CDC;
        map.Insert(hDC, pDC);
    }
    pDC->m_hDC = pDC->m_hAttribDC = hDC;
    return pDC;
}

BOOL CDC::Attach(HDC hDC) {
    if (hDC == nullptr) return FALSE;
    if (m_hDC != hDC) DeleteDC();
    m_hDC = m_hAttribDC = hDC;
    return TRUE;
}

HDC CDC::Detach() {
    HDC hDC = m_hDC;
    m_hDC = m_hAttribDC = nullptr;
    if (hDC != nullptr) {
        ForgetTempDC(hDC, this);
        DcSpares()->Forget(hDC);
    }
    return hDC;
}

BOOL CDC::DeleteDC() {
    HDC hDC = m_hDC;
    if (hDC == nullptr) return FALSE;
    m_hDC = m_hAttribDC = nullptr;
    ForgetTempDC(hDC, this);
    if (DcSpares()->Park(hDC)) return TRUE;
    return ::DeleteDC(hDC);
}

BOOL CDC::CreateCompatibleDC(CDC* pDC) {
    assert(m_hDC == nullptr);
    HDC hTarget = pDC != nullptr ? pDC->m_hDC : nullptr;
    if (IsPlainDisplayDC(hTarget)) return Attach(DcSpares()->Take(hTarget));
    return Attach(::CreateCompatibleDC(hTarget));
}

CGdiObject* CDC::SelectGdiObject(HDC hDC, HGDIOBJ hObject) {
    return CGdiObject::FromHandle(::SelectObject(hDC, hObject));
}

CPen* CDC::SelectObject(CPen* pPen) {
    return CPen::FromHandle(
        static_cast<HPEN>(::SelectObject(m_hDC, pPen != nullptr ? pPen->m_hObject : nullptr)));
}

CBrush* CDC::SelectObject(CBrush* pBrush) {
    return CBrush::FromHandle(static_cast<HBRUSH>(
        ::SelectObject(m_hDC, pBrush != nullptr ? pBrush->m_hObject : nullptr)));
}

CFont* CDC::SelectObject(CFont* pFont) {
    return CFont::FromHandle(
        static_cast<HFONT>(::SelectObject(m_hDC, pFont != nullptr ? pFont->m_hObject : nullptr)));
}

CBitmap* CDC::SelectObject(CBitmap* pBitmap) {
    return CBitmap::FromHandle(static_cast<HBITMAP>(
        ::SelectObject(m_hDC, pBitmap != nullptr ? pBitmap->m_hObject : nullptr)));
}

POINT CDC::SetWindowOrg(int x, int y) {
    POINT pt = {0, 0};
    ::SetWindowOrgEx(m_hDC, x, y, &pt);
    return pt;
}

POINT CDC::GetBrushOrg() const {
    POINT pt = {0, 0};
    ::GetBrushOrgEx(m_hDC, &pt);
    return pt;
}

POINT CDC::SetBrushOrg(int x, int y) {
    POINT pt = {0, 0};
    ::SetBrushOrgEx(m_hDC, x, y, &pt);
    return pt;
}

BOOL CDC::FillSolidRect(LPCRECT lpRect, COLORREF crColor) {
    COLORREF crOld = ::SetBkColor(m_hDC, crColor);
    const BOOL bFilled = ::ExtTextOutA(m_hDC, 0, 0, ETO_OPAQUE, lpRect, nullptr, 0, nullptr);
    ::SetBkColor(m_hDC, crOld);
    return bFilled;
}

BOOL CDC::FillSolidRect(int x, int y, int cx, int cy, COLORREF crColor) {
    RECT rc = {x, y, x + cx, y + cy};
    return FillSolidRect(&rc, crColor);
}

void CDC::FillRect(LPCRECT lpRect, CBrush* pBrush) {
    ::FillRect(m_hDC, lpRect, pBrush != nullptr ? static_cast<HBRUSH>(*pBrush) : nullptr);
}

BOOL CDC::BitBlt(int x, int y, int nWidth, int nHeight, CDC* pSrcDC, int xSrc, int ySrc,
                 DWORD dwRop) {
    return ::BitBlt(m_hDC, x, y, nWidth, nHeight, pSrcDC != nullptr ? pSrcDC->m_hDC : nullptr, xSrc,
                    ySrc, dwRop);
}

// CPaintDC -----------------------------------------------------------------------

CPaintDC::CPaintDC(CWnd* pWnd) : m_ps(), m_hWnd(pWnd->m_hWnd) {
    Attach(::BeginPaint(m_hWnd, &m_ps));
}

CPaintDC::~CPaintDC() {
    ::EndPaint(m_hWnd, &m_ps);
    Detach();
}
