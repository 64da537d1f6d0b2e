#include "chart/MultiColorPlotCtrl.h"

#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>
#include <optional>

#include "chart/InkRect.h"
#include "chart/MemDC.h"

namespace {

const UINT_PTR kRedrawTimer = 1;
const UINT kRedrawPeriodMs = 50;
// Paints in a row that copy the kept frame before one draws it anew.
const int kMaxReusedPaints = 19;

// Rows beyond this are far outside any client area; the clamp keeps NaN and
// huge values from an undefined float-to-int conversion.
const float kFarRow = 1.0e7f;

void CopyText(char* pszDest, size_t cchDest, LPCSTR pszSrc) {
    if (pszSrc == nullptr) pszSrc = "";
    size_t cch = strnlen(pszSrc, cchDest - 1);
    memcpy(pszDest, pszSrc, cch);
    pszDest[cch] = '\0';
}

// Straight lines drawn as two-point polylines, many to a call: the pixels
// of a move and a line each (end point left out), at one call per batch
// instead of two per line, which under Wine was most of the grid's cost.
class LineBatch {
  public:
    explicit LineBatch(CDC* pDC) : m_pDC(pDC), m_nLines(0), m_bFailed(false) {
        for (DWORD& dwCount : m_dwCounts) dwCount = 2;
    }
    ~LineBatch() { Flush(); }
    LineBatch(const LineBatch&) = delete;
    LineBatch& operator=(const LineBatch&) = delete;

    void Add(int x0, int y0, int x1, int y1) {
        if (m_nLines == kMaxLines) Flush();
        m_points[2 * m_nLines] = POINT{x0, y0};
        m_points[2 * m_nLines + 1] = POINT{x1, y1};
        ++m_nLines;
    }

    // Draws what is left; false if GDI refused any batch.
    bool Finish() {
        Flush();
        return !m_bFailed;
    }

  private:
    void Flush() {
        if (m_nLines > 0 && !m_pDC->PolyPolyline(m_points, m_dwCounts, m_nLines)) m_bFailed = true;
        m_nLines = 0;
    }

    static const int kMaxLines = 64;
    CDC* m_pDC;
    int m_nLines;
    bool m_bFailed;
    POINT m_points[2 * kMaxLines];
    DWORD m_dwCounts[kMaxLines];
};

}  // namespace

BEGIN_MESSAGE_MAP(CMultiColorPlotCtrl, CStatic)
ON_WM_PAINT()
ON_WM_ERASEBKGND()
ON_WM_TIMER()
END_MESSAGE_MAP()

CMultiColorPlotCtrl::CMultiColorPlotCtrl()
    : m_pOldGradientBitmap(nullptr),
      m_nPlotStyle(1),
      m_nGridStepX(10),
      m_nGridStepY(10),
      m_nGridScrollX(0),
      m_nGridScrollY(0),
      m_nPointSpacing(2),
      m_nGridPenWidth(1),
      m_crBackground(RGB(0, 0, 0)),
      m_crGrid(RGB(0, 125, 0)),
      m_rcClient(),
      m_nClientWidth(0),
      m_nClientHeight(0),
      m_nPointCount(0),
      m_pValues(nullptr),
      m_fRangeMin(0.0f),
      m_fRangeMax(100.0f),
      m_crBarTop(RGB(255, 255, 0)),
      m_nGridOffsetX(0),
      m_nGridOffsetY(0),
      m_bFixedRange(true),
      m_crCaption(RGB(0, 255, 255)),
      m_nCaptionMode(0),
      m_szTitle(),
      m_szUnit(),
      m_crLine(RGB(255, 255, 0)),
      m_nLineWidth(1),
      m_pOldFrameBitmap(nullptr),
      m_nFrameWidth(0),
      m_nFrameHeight(0),
      m_nFrameBitsPixel(0),
      m_nFrameStale(1),
      m_nReusedPaints(0),
      m_pOldGridBitmap(nullptr),
      m_gridKey(),
      m_nGridPenSerial(0),
      m_crLinePen(0),
      m_nLinePenWidth(0),
      m_hFramePen(nullptr),
      m_drawn(),
      m_shown(),
      m_bShownExact(false),
      m_bFrameBounds(false),
      m_plan(),
      m_bInPaint(false),
      m_nWholeWanted(1),
      m_nPaintsSinceWhole(0),
      m_rangeTexts(),
      m_valueText() {
    ::InitializeCriticalSection(&m_csValues);
}

CMultiColorPlotCtrl::~CMultiColorPlotCtrl() {
    // The kept frame's bitmap and the curve's pen must not be selected when
    // they are deleted.
    if (m_dcFrame.GetSafeHdc() != nullptr) {
        m_dcFrame.SelectObject(m_pOldFrameBitmap);
        ReleaseFramePen();
    }
    if (m_dcGrid.GetSafeHdc() != nullptr) m_dcGrid.SelectObject(m_pOldGridBitmap);
    delete[] m_pValues;
    m_pValues = nullptr;
    delete[] m_drawn.pPoints;
    delete[] m_shown.pPoints;
    delete[] m_drawn.pBands;
    delete[] m_shown.pBands;
    ::DeleteCriticalSection(&m_csValues);
    // The members then go in reverse order of declaration: curve pen, grid
    // layer's bitmap and context, frame bitmap, frame context, caption font,
    // bar brush, grid pen, gradient context, gradient bitmap (no longer
    // selected once its context is gone).
}

void CMultiColorPlotCtrl::PreSubclassWindow() {
    ModifyStyle(0, SS_NOTIFY);

    GetClientRect(&m_rcClient);
    m_nClientWidth = m_rcClient.right - m_rcClient.left;
    m_nClientHeight = m_rcClient.bottom - m_rcClient.top;
    int nCount = m_nClientWidth / m_nPointSpacing;

    // A new font may come back under the old one's handle.
    InvalidateWholeFrame();
    // Not deleted while the kept frame still has it selected.
    if (m_dcFrame.GetSafeHdc() != nullptr) {
        ::SelectObject(m_dcFrame.m_hDC, ::GetStockObject(SYSTEM_FONT));
    }
    m_fontCaption.DeleteObject();
    m_fontCaption.CreateFont(-11, 0, 0, 0, 100, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                             OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                             VARIABLE_PITCH, "Times New Roman");

    if (SwapValues(nCount, m_nPointSpacing)) {
        RebuildGridPen();

        // The region is sized from the client area but placed in window
        // coordinates, so on a bordered static it cuts off the right and
        // bottom border together with the last client column and row.
        CRgn rgn;
        if (rgn.CreateRoundRectRgn(0, 0, m_nClientWidth, m_nClientHeight, kCornerEllipse,
                                   kCornerEllipse)) {
            SetWindowRgn(static_cast<HRGN>(rgn.Detach()), TRUE);
        }

        SetTimer(kRedrawTimer, kRedrawPeriodMs, nullptr);
    }

    CStatic::PreSubclassWindow();
}

void CMultiColorPlotCtrl::AppendValue(float fValue) {
    ::EnterCriticalSection(&m_csValues);
    if (m_pValues != nullptr && m_nPointCount > 0) {
        memmove(m_pValues, m_pValues + 1, (m_nPointCount - 1) * sizeof(float));
        m_pValues[m_nPointCount - 1] = fValue;
        if (!m_bFixedRange) {
            if (m_fRangeMin > fValue) m_fRangeMin = fValue;
            if (fValue > m_fRangeMax) m_fRangeMax = fValue;
        }
    }
    ::LeaveCriticalSection(&m_csValues);
    InvalidateFrame();
}

void CMultiColorPlotCtrl::InvalidateFrame() {
    ::InterlockedExchange(&m_nFrameStale, 1);
}

void CMultiColorPlotCtrl::InvalidateWholeFrame() {
    ::InterlockedExchange(&m_nWholeWanted, 1);
    InvalidateFrame();
}

void CMultiColorPlotCtrl::SetTitle(LPCSTR pszTitle) {
    InvalidateFrame();
    CopyText(m_szTitle, sizeof(m_szTitle), pszTitle);
}

void CMultiColorPlotCtrl::SetUnit(LPCSTR pszUnit) {
    InvalidateFrame();
    CopyText(m_szUnit, sizeof(m_szUnit), pszUnit);
}

void CMultiColorPlotCtrl::SetValueRange(float fMin, float fMax) {
    InvalidateFrame();
    // One step for appends: none may widen the new range before it is fixed.
    ::EnterCriticalSection(&m_csValues);
    SetMinMax(fMin, fMax);
    SetFixedRange(true);
    ::LeaveCriticalSection(&m_csValues);
}

void CMultiColorPlotCtrl::SetMinMax(float fMin, float fMax) {
    InvalidateFrame();
    ::EnterCriticalSection(&m_csValues);
    m_fRangeMin = fMin;
    m_fRangeMax = fMax;
    ::LeaveCriticalSection(&m_csValues);
}

void CMultiColorPlotCtrl::SetFixedRange(bool bFixed) {
    InvalidateFrame();
    ::EnterCriticalSection(&m_csValues);
    m_bFixedRange = bFixed;
    ::LeaveCriticalSection(&m_csValues);
}

BOOL CMultiColorPlotCtrl::SetPointSpacing(int nPixels) {
    InvalidateFrame();
    if (nPixels < 1) return FALSE;
    return SwapValues(m_nClientWidth / nPixels, nPixels);
}

bool CMultiColorPlotCtrl::SwapValues(int nCount, int nSpacing) {
    // Appends and paints wait only for the exchange, not for the heap.
    float* pValues = new (std::nothrow) float[nCount]();
    ::EnterCriticalSection(&m_csValues);
    float* pOld = m_pValues;
    m_pValues = pValues;
    m_nPointCount = nCount;
    m_nPointSpacing = nSpacing;
    ::LeaveCriticalSection(&m_csValues);
    delete[] pOld;
    return pValues != nullptr;
}

void CMultiColorPlotCtrl::SetGridStepX(int nPixels) {
    InvalidateFrame();
    if (nPixels >= 1) m_nGridStepX = nPixels;
}

void CMultiColorPlotCtrl::SetGridStepY(int nPixels) {
    InvalidateFrame();
    if (nPixels >= 1) m_nGridStepY = nPixels;
}

void CMultiColorPlotCtrl::SetGridScrollX(int nPixels) {
    InvalidateFrame();
    m_nGridScrollX = nPixels;
}

void CMultiColorPlotCtrl::SetGridScrollY(int nPixels) {
    InvalidateFrame();
    m_nGridScrollY = nPixels;
}

void CMultiColorPlotCtrl::SetGridPenWidth(int nWidth) {
    InvalidateFrame();
    m_nGridPenWidth = nWidth;
}

void CMultiColorPlotCtrl::SetGridColor(COLORREF crColor) {
    InvalidateFrame();
    m_crGrid = crColor;
    RebuildGridPen();
}

void CMultiColorPlotCtrl::SetGridPen(int nWidth, COLORREF crColor) {
    InvalidateFrame();
    m_nGridPenWidth = nWidth;
    m_crGrid = crColor;
    RebuildGridPen();
}

void CMultiColorPlotCtrl::RebuildGridPen() {
    // The old pen goes only once the new one exists: if GDI refuses, the
    // grid keeps its old look rather than vanishing.
    CPen pen;
    if (pen.CreatePen(PS_SOLID, m_nGridPenWidth, m_crGrid)) {
        m_penGrid.Attach(pen.Detach());
        ++m_nGridPenSerial;
    }
}

void CMultiColorPlotCtrl::SetBackgroundColor(COLORREF crColor) {
    InvalidateFrame();
    m_crBackground = crColor;
}

void CMultiColorPlotCtrl::SetCaptionColor(COLORREF crColor) {
    InvalidateFrame();
    m_crCaption = crColor;
}

void CMultiColorPlotCtrl::SetCaptionMode(int nMode) {
    InvalidateFrame();
    m_nCaptionMode = nMode;
}

void CMultiColorPlotCtrl::SetPlotStyle(int nStyle) {
    InvalidateFrame();
    m_nPlotStyle = nStyle;
}

void CMultiColorPlotCtrl::SetLineColor(COLORREF crColor) {
    InvalidateFrame();
    m_crLine = crColor;
}

void CMultiColorPlotCtrl::SetLineWidth(int nWidth) {
    InvalidateFrame();
    m_nLineWidth = nWidth;
}

void CMultiColorPlotCtrl::SetLinePen(COLORREF crColor, int nWidth) {
    InvalidateFrame();
    m_crLine = crColor;
    m_nLineWidth = nWidth;
}

BOOL CMultiColorPlotCtrl::OnEraseBkgnd(CDC*) {
    return TRUE;
}

void CMultiColorPlotCtrl::OnTimer(UINT_PTR) {
    Invalidate(FALSE);
    Default();
}

// Painting -------------------------------------------------------------------

void CMultiColorPlotCtrl::OnPaint() {
    CPaintDC dc(this);
    GetClientRect(&m_rcClient);
    const int nWidth = m_rcClient.right - m_rcClient.left;
    const int nHeight = m_rcClient.bottom - m_rcClient.top;
    if (m_nPaintsSinceWhole < INT_MAX) ++m_nPaintsSinceWhole;

    // The timer repaints 20 times a second, while what the chart shows
    // changes a few times a second. Each setter and each append mark the kept
    // frame stale (InvalidateFrame), a size change or a scrolling grid draw
    // anew, and so does every 20th paint: that bound, one second, covers what
    // passes no setter (a subclass writing members, display or font
    // changes, a layer GDI refused to draw). Otherwise the last finished
    // frame is copied again.
    const bool bStale = ::InterlockedCompareExchange(&m_nFrameStale, 0, 0) != 0;
    if (m_dcFrame.GetSafeHdc() != nullptr && nWidth == m_nFrameWidth && nHeight == m_nFrameHeight &&
        m_nGridScrollX == 0 && m_nGridScrollY == 0 && m_nReusedPaints < kMaxReusedPaints &&
        !bStale) {
        dc.BitBlt(0, 0, nWidth, nHeight, &m_dcFrame, 0, 0, SRCCOPY);
        ++m_nReusedPaints;
        return;
    }
    // Cleared before drawing: an append during the drawing marks it again.
    ::InterlockedExchange(&m_nFrameStale, 0);
    m_nReusedPaints = 0;

    // Drawn on the kept frame itself, which is then kept without a copy; when
    // no frame can be had (GDI out of handles) the paint draws on a surface
    // of its own and keeps nothing.
    const bool bOnFrame = PrepareFrame(&dc, nWidth, nHeight);
    std::optional<CMemDC> memDC;
    if (bOnFrame) {
        memDC.emplace(&dc, &m_rcClient, &m_dcFrame);
    } else {
        memDC.emplace(&dc, &m_rcClient);
    }
    CMemDC* pMemDC = &*memDC;
    POINT ptOldBrushOrg = pMemDC->GetBrushOrg();

    // Made once; a half-made set (GDI out of handles) is thrown away and
    // tried again at the next paint.
    if (m_dcGradient.GetSafeHdc() == nullptr || m_bmpGradient.GetSafeHandle() == nullptr ||
        m_brushBar.GetSafeHandle() == nullptr) {
        m_brushBar.DeleteObject();
        m_dcGradient.DeleteDC();
        m_bmpGradient.DeleteObject();
        if (m_dcGradient.CreateCompatibleDC(&dc) &&
            m_bmpGradient.CreateCompatibleBitmap(&dc, m_rcClient.right - m_rcClient.left,
                                                 m_rcClient.bottom - m_rcClient.top)) {
            m_pOldGradientBitmap = m_dcGradient.SelectObject(&m_bmpGradient);
            DrawGradient(&m_dcGradient);
        }
    }

    // A paint drawn only because of the bound above draws the whole frame.
    const bool bWholeWanted = ::InterlockedExchange(&m_nWholeWanted, 0) != 0;
    const bool bInPlace =
        bOnFrame && pMemDC->IsOffscreen() && !bWholeWanted && CanDrawInPlace(pMemDC, !bStale);
    DrawFrameLayers(pMemDC, bInPlace);
    // A layer that set pixels the plan did not put back beneath it leaves
    // the frame in doubt: it is drawn whole at once.
    if (bInPlace && m_plan.bSuspect) DrawFrameLayers(pMemDC, false);
    const bool bDrewWhole = !bInPlace || m_plan.bSuspect;

    pMemDC->SetBrushOrg(ptOldBrushOrg);
    // A layer that could not be drawn (GDI out of objects) is tried again at
    // the next paint rather than kept.
    bool bWhole = bOnFrame && pMemDC->IsOffscreen() && m_penGrid.GetSafeHandle() != nullptr &&
                  m_fontCaption.GetSafeHandle() != nullptr &&
                  (m_nPlotStyle != 0 || m_brushBar.GetSafeHandle() != nullptr) &&
                  (m_nPlotStyle != 1 || m_penLine.GetSafeHandle() != nullptr);
    if (!bWhole) InvalidateFrame();
    if (bWhole && bDrewWhole) m_nPaintsSinceWhole = 0;
    KeepDrawnLayers(bWhole);
    memDC.reset();
}

bool CMultiColorPlotCtrl::PrepareFrame(CDC* pTargetDC, int nWidth, int nHeight) {
    if (m_dcFrame.GetSafeHdc() != nullptr && nWidth == m_nFrameWidth && nHeight == m_nFrameHeight) {
        return true;
    }
    if (m_dcFrame.GetSafeHdc() != nullptr) m_dcFrame.SelectObject(m_pOldFrameBitmap);
    m_dcFrame.DeleteDC();
    m_hFramePen = nullptr;
    m_bmpFrame.DeleteObject();
    m_nFrameWidth = m_nFrameHeight = 0;
    if (nWidth <= 0 || nHeight <= 0) return false;
    m_bShownExact = false;
    if (m_dcFrame.CreateCompatibleDC(pTargetDC) &&
        m_bmpFrame.CreateCompatibleBitmap(pTargetDC, nWidth, nHeight)) {
        m_pOldFrameBitmap = m_dcFrame.SelectObject(&m_bmpFrame);
        BITMAP bm;
        m_nFrameBitsPixel = ::GetObjectA(m_bmpFrame.GetSafeHandle(), sizeof(bm), &bm) == sizeof(bm)
                                ? bm.bmBitsPixel
                                : 0;
        m_nFrameWidth = nWidth;
        m_nFrameHeight = nHeight;
        // What each layer covers is recorded as it is drawn, so that the
        // next frame can put back only those pixels.
        m_bFrameBounds = ::SetBoundsRect(m_dcFrame.m_hDC, nullptr, DCB_ENABLE | DCB_RESET) != 0;
        return true;
    }
    m_dcFrame.DeleteDC();
    m_bmpFrame.DeleteObject();
    return false;
}

void CMultiColorPlotCtrl::DrawGradient(CDC* pDC) {
    // A new bitmap's contents are undefined (a recycled one may hold an old
    // frame); bars wider than the two painted columns show the rest as black.
    pDC->FillSolidRect(0, 0, m_rcClient.right - m_rcClient.left, m_rcClient.bottom - m_rcClient.top,
                       RGB(0, 0, 0));
    if (m_nPlotStyle == 0 && m_nClientHeight > 0) {
        double s = 255.0 / m_nClientHeight;
        for (int i = 0; i < m_nClientHeight; ++i) {
            double x = i * s;
            COLORREF cr = RGB(static_cast<int>(x), static_cast<int>(255.0 - x), 0x40);
            pDC->SetPixelV(0, i, cr);
            pDC->SetPixelV(1, i, cr);
        }
    }
    pDC->SelectObject(m_pOldGradientBitmap);
    m_brushBar.CreatePatternBrush(&m_bmpGradient);
}

void CMultiColorPlotCtrl::DrawGrid(CDC* pDC) {
    RecordsInk(pDC);
    m_drawn.bGridLayer = CopyGridLayer(pDC);
    if (!m_drawn.bGridLayer) PaintGrid(pDC);
    m_drawn.gridKey = m_gridKey;

    // The phase runs through step + 1 positions, 0 to the step inclusive.
    m_nGridOffsetX += m_nGridScrollX;
    m_nGridOffsetY += m_nGridScrollY;
    if (m_nGridOffsetX < 0) {
        m_nGridOffsetX = m_nGridStepX;
    } else if (m_nGridOffsetX > m_nGridStepX) {
        m_nGridOffsetX = 0;
    }
    if (m_nGridOffsetY < 0) {
        m_nGridOffsetY = m_nGridStepY;
    } else if (m_nGridOffsetY > m_nGridStepY) {
        m_nGridOffsetY = 0;
    }
}

bool CMultiColorPlotCtrl::PaintGrid(CDC* pDC) {
    bool bWhole = pDC->FillSolidRect(&m_rcClient, m_crBackground) != FALSE;

    if (m_penGrid.GetSafeHandle() == nullptr) return false;
    int nCols = m_nClientWidth / m_nGridStepX;
    int nRows = m_nClientHeight / m_nGridStepY;
    CPen* pOldPen = pDC->SelectObject(&m_penGrid);
    LineBatch lines(pDC);
    for (int i = 0; i <= nCols; ++i) {
        int x = i * m_nGridStepX + m_nGridOffsetX;
        lines.Add(x, 0, x, m_nClientHeight);
    }
    for (int j = 0; j <= nRows; ++j) {
        int y = m_nGridOffsetY + m_nClientHeight - j * m_nGridStepY - 2;
        lines.Add(0, y, m_nClientWidth, y);
    }
    bWhole = lines.Finish() && bWhole;
    pDC->SelectObject(pOldPen);
    return bWhole;
}

bool CMultiColorPlotCtrl::GridLayerKeyFor(CDC* pDC, GridLayerKey* pKey) const {
    // Only where the copy lands exactly where the drawing would: a bitmap of
    // the client's size, in plain pixel units from its corner. A scrolling
    // grid differs in every frame and is drawn straight.
    const int nWidth = m_rcClient.right - m_rcClient.left;
    const int nHeight = m_rcClient.bottom - m_rcClient.top;
    const HDC hDC = pDC->m_hDC;
    if (m_nGridScrollX != 0 || m_nGridScrollY != 0 || nWidth <= 0 || nHeight <= 0 ||
        m_rcClient.left != 0 || m_rcClient.top != 0 || ::GetObjectType(hDC) != OBJ_MEMDC ||
        ::GetMapMode(hDC) != MM_TEXT || ::GetGraphicsMode(hDC) != GM_COMPATIBLE) {
        return false;
    }
    POINT ptWindow, ptViewport;
    if (!::GetWindowOrgEx(hDC, &ptWindow) || !::GetViewportOrgEx(hDC, &ptViewport) ||
        ptWindow.x != ptViewport.x || ptWindow.y != ptViewport.y) {
        return false;
    }
    // The kept frame's bitmap is known; another context is asked.
    BITMAP bm;
    if (hDC == m_dcFrame.GetSafeHdc() && m_nFrameBitsPixel > 0) {
        bm.bmWidth = m_nFrameWidth;
        bm.bmHeight = m_nFrameHeight;
        bm.bmBitsPixel = static_cast<WORD>(m_nFrameBitsPixel);
    } else if (::GetObjectA(::GetCurrentObject(hDC, OBJ_BITMAP), sizeof(bm), &bm) != sizeof(bm)) {
        return false;
    }
    if (bm.bmWidth != nWidth || bm.bmHeight != nHeight) return false;

    // Everything the background and the lines are drawn from: members a
    // subclass or a test writes directly are compared, not only the setters'.
    *pKey = GridLayerKey{nWidth,         nHeight,          m_nClientWidth, m_nClientHeight,
                         m_nGridStepX,   m_nGridStepY,     m_nGridOffsetX, m_nGridOffsetY,
                         m_crBackground, m_nGridPenSerial, bm.bmBitsPixel};
    return true;
}

bool CMultiColorPlotCtrl::CopyGridLayer(CDC* pDC) {
    GridLayerKey key;
    if (!GridLayerKeyFor(pDC, &key)) return false;
    const int nWidth = key.nWidth;
    const int nHeight = key.nHeight;
    if (m_dcGrid.GetSafeHdc() == nullptr || memcmp(&key, &m_gridKey, sizeof(key)) != 0) {
        m_gridKey = GridLayerKey();
        if (m_dcGrid.GetSafeHdc() != nullptr) m_dcGrid.SelectObject(m_pOldGridBitmap);
        m_dcGrid.DeleteDC();
        m_bmpGrid.DeleteObject();
        if (!m_dcGrid.CreateCompatibleDC(pDC)) return false;
        if (!m_bmpGrid.CreateCompatibleBitmap(pDC, nWidth, nHeight)) {
            m_dcGrid.DeleteDC();
            return false;
        }
        m_pOldGridBitmap = m_dcGrid.SelectObject(&m_bmpGrid);
        // A layer GDI drew only in part is not kept.
        if (!PaintGrid(&m_dcGrid)) {
            m_dcGrid.SelectObject(m_pOldGridBitmap);
            m_dcGrid.DeleteDC();
            m_bmpGrid.DeleteObject();
            return false;
        }
        m_gridKey = key;
    }
    return pDC->BitBlt(0, 0, nWidth, nHeight, &m_dcGrid, 0, 0, SRCCOPY) != FALSE;
}

int CMultiColorPlotCtrl::ValueToRow(float fValue) const {
    // With equal bounds there is no scale; the samples lie on the lowest
    // visible row, where the user sees a flat line, instead of vanishing on
    // the row below like a sample at the minimum of a real range.
    float d = m_fRangeMax - m_fRangeMin;
    if (d == 0.0f) return m_rcClient.bottom - 1;

    float fBottom = static_cast<float>(m_rcClient.bottom);
    float fHeight = static_cast<float>(m_nClientHeight);
    float t = fValue - m_fRangeMin;
    float k = (t / d) * fHeight;
    float y = fBottom - k;
    // A value above the maximum stays on the top row: without the clip, the
    // absolute value below would mirror it back into the chart.
    float fTop = fBottom - fHeight;
    if (y < fTop) y = fTop;
    y = std::fabs(y);
    if (!(y < kFarRow)) y = kFarRow;
    return static_cast<int>(y);
}

void CMultiColorPlotCtrl::DrawCurve(CDC* pDC) {
    ::EnterCriticalSection(&m_csValues);
    const bool bRecord = RecordsInk(pDC);
    FormatCaptions();
    m_drawn.bInkKnown = bRecord;
    m_drawn.nPoints = 0;
    m_drawn.nBands = 0;
    m_drawn.bBandsHoldInk = false;
    ::SetRectEmpty(&m_drawn.rcCurve);

    int nCount = m_pValues != nullptr ? m_nPointCount : 0;
    int nBottom = m_rcClient.bottom;
    if (m_nPlotStyle == 0 && m_brushBar.GetSafeHandle() != nullptr) {
        // Bars are not recorded: a frame of bars is always drawn whole.
        m_drawn.bInkKnown = false;
        // The brush origin on the bar's bottom-left corner lays the
        // chart-high pattern so that every row shows its gradient colour.
        for (int i = 0; i < nCount; ++i) {
            int x = i * m_nPointSpacing + m_rcClient.left;
            int y = ValueToRow(m_pValues[i]);
            pDC->SetBrushOrg(x, nBottom);
            RECT rcBar = {x, y, x + m_nPointSpacing, nBottom};
            pDC->FillRect(&rcBar, &m_brushBar);
            pDC->SetPixelV(x, y, m_crBarTop);
        }
    } else if (m_nPlotStyle == 1 && nCount > 0) {
        // Kept from frame to frame: under Wine making and deleting a pen
        // costs two calls into the system each.
        if (m_penLine.GetSafeHandle() == nullptr || m_crLinePen != m_crLine ||
            m_nLinePenWidth != m_nLineWidth) {
            ReleaseFramePen();
            m_penLine.DeleteObject();
            if (m_penLine.CreatePen(PS_SOLID, m_nLineWidth, m_crLine)) {
                m_crLinePen = m_crLine;
                m_nLinePenWidth = m_nLineWidth;
            }
        }
        if (EnsurePointCapacity(nCount) && m_penLine.GetSafeHandle() != nullptr) {
            m_drawn.crLine = m_crLinePen;
            m_drawn.nLineWidth = m_nLinePenWidth;
            // The program appends each reading several times, so the curve
            // runs flat between readings. A one-pixel line through a flat
            // run's inner points sets the pixels one line from its ends
            // sets, and under Wine each segment costs about as much as a
            // short line: the inner points are left out. A wider pen's joins
            // are left to GDI.
            const bool bMergeFlat = m_nLineWidth == 0 || m_nLineWidth == 1;
            POINT* pPoints = m_drawn.pPoints;
            int nPoints = 0;
            RECT rcLine = {INT_MAX, INT_MAX, INT_MIN, INT_MIN};
            for (int i = 0; i < nCount; ++i) {
                const POINT pt = {i * m_nPointSpacing + m_rcClient.left, ValueToRow(m_pValues[i])};
                if (bMergeFlat && nPoints >= 2 && pPoints[nPoints - 1].y == pt.y &&
                    pPoints[nPoints - 2].y == pt.y) {
                    pPoints[nPoints - 1] = pt;
                } else {
                    pPoints[nPoints++] = pt;
                }
                if (pt.x < rcLine.left) rcLine.left = pt.x;
                if (pt.x >= rcLine.right) rcLine.right = pt.x + 1;
                if (pt.y < rcLine.top) rcLine.top = pt.y;
                if (pt.y >= rcLine.bottom) rcLine.bottom = pt.y + 1;
            }
            m_drawn.nPoints = nPoints;
            // No pen of this width sets a pixel further than its width from
            // the points. A one-pixel line sets none outside the rectangle
            // of each segment's ends, so its bands need no margin.
            const int nReach = (m_nLinePenWidth > 1 ? m_nLinePenWidth : 1) + 1;
            const int nBandReach = bMergeFlat ? 0 : nReach;
            RECT rcBandBounds = rcLine;
            ::InflateRect(&rcBandBounds, nBandReach, nBandReach);
            ::InflateRect(&rcLine, nReach, nReach);
            BandCurve(nBandReach);
            if (m_plan.bActive) PlanInPlace(pDC, rcLine);
            if (!m_plan.bActive || m_plan.bCurve) {
                if (bRecord) ResetBounds(pDC->m_hDC);
                // By handle: a wrapper for the old pen would be one more
                // temporary object made in every frame and swept later. On
                // the kept frame the pen stays selected for the next frame.
                const HGDIOBJ hPen = m_penLine.GetSafeHandle();
                const bool bOnFrame = pDC->m_hDC == m_dcFrame.GetSafeHdc();
                if (bOnFrame && m_hFramePen == hPen) {
                    pDC->Polyline(pPoints, nPoints);
                } else {
                    const HGDIOBJ hOldPen = ::SelectObject(pDC->m_hDC, hPen);
                    pDC->Polyline(pPoints, nPoints);
                    if (bOnFrame && hOldPen != nullptr) {
                        m_hFramePen = hPen;
                    } else {
                        ::SelectObject(pDC->m_hDC, hOldPen);
                    }
                }
                if (bRecord && !TakeBounds(pDC->m_hDC, &m_drawn.rcCurve)) m_drawn.bInkKnown = false;
                // The bands leave out what lies off the chart; the system's
                // bounds may not.
                m_drawn.bBandsHoldInk =
                    bRecord && m_drawn.bInkKnown && Inside(m_drawn.rcCurve, rcBandBounds);
                if (m_plan.bActive && !Inside(m_drawn.rcCurve, rcLine)) m_plan.bSuspect = true;
                // The captions kept were chosen by the bands: ink beyond them
                // may lie on one.
                for (int i = 0; m_plan.bActive && !m_drawn.bBandsHoldInk && i < m_shown.nCaptions;
                     ++i) {
                    if (!m_plan.bCaption[i] && Overlap(m_shown.captions[i].rcInk, m_drawn.rcCurve))
                        m_plan.bSuspect = true;
                }
            } else {
                m_drawn.rcCurve = m_shown.rcCurve;
                m_drawn.bBandsHoldInk =
                    m_shown.bBandsHoldInk && m_shown.nBands <= m_drawn.nCapacity;
                m_drawn.nBands = m_drawn.bBandsHoldInk ? m_shown.nBands : 0;
                if (m_drawn.nBands > 0)
                    memcpy(m_drawn.pBands, m_shown.pBands, m_drawn.nBands * sizeof(RECT));
            }
            return;
        }
        // No room for the points: nothing of a curve is shown this frame.
    }
    if (m_plan.bActive) PlanInPlace(pDC, m_drawn.rcCurve);
}

bool CMultiColorPlotCtrl::EnsurePointCapacity(int nCount) {
    if (m_drawn.nCapacity >= nCount) return true;
    POINT* pPoints = new (std::nothrow) POINT[nCount];
    RECT* pBands = new (std::nothrow) RECT[nCount];
    if (pPoints == nullptr || pBands == nullptr) {
        delete[] pPoints;
        delete[] pBands;
        return false;
    }
    delete[] m_drawn.pPoints;
    delete[] m_drawn.pBands;
    m_drawn.pPoints = pPoints;
    m_drawn.pBands = pBands;
    m_drawn.nCapacity = nCount;
    return true;
}

void CMultiColorPlotCtrl::ReleaseFramePen() {
    if (m_hFramePen == nullptr) return;
    ::SelectObject(m_dcFrame.m_hDC, ::GetStockObject(BLACK_PEN));
    m_hFramePen = nullptr;
}

void CMultiColorPlotCtrl::DrawCaption(CDC* pDC) {
    // In place, captions that stand as they were keep their pixels; a frame
    // that draws none of them sets nothing on the context either.
    bool bAny = false;
    for (int i = 0; i < m_drawn.nCaptions; ++i) {
        if (m_plan.bActive && !m_plan.bCaption[i]) {
            m_drawn.captions[i].rcInk = m_shown.captions[i].rcInk;
        } else {
            bAny = true;
        }
    }
    if (bAny && m_fontCaption.GetSafeHandle() != nullptr) {
        COLORREF crOldText = pDC->GetTextColor();
        int nOldBkMode = pDC->GetBkMode();
        pDC->SetTextColor(m_crCaption);
        pDC->SetBkMode(TRANSPARENT);
        // Under Wine every font selection, even of the font already
        // selected, makes the display driver read the X resources again: on
        // the chart's own frame the font is selected once and left there for
        // the next frame. Any other target gets its own font back.
        const HGDIOBJ hFont = m_fontCaption.GetSafeHandle();
        const HGDIOBJ hOldFont = ::GetCurrentObject(pDC->m_hDC, OBJ_FONT);
        if (hOldFont != hFont) ::SelectObject(pDC->m_hDC, hFont);
        const bool bRecord = RecordsInk(pDC);
        for (int i = 0; i < m_drawn.nCaptions; ++i) {
            if (m_plan.bActive && !m_plan.bCaption[i]) continue;
            Caption& caption = m_drawn.captions[i];
            if (bRecord) ResetBounds(pDC->m_hDC);
            pDC->TextOut(caption.pt.x, caption.pt.y, caption.szText, caption.nLength);
            if (bRecord && !TakeBounds(pDC->m_hDC, &caption.rcInk)) m_drawn.bInkKnown = false;
        }
        if (hOldFont != hFont && pDC->m_hDC != m_dcFrame.m_hDC)
            ::SelectObject(pDC->m_hDC, hOldFont);
        pDC->SetTextColor(crOldText);
        pDC->SetBkMode(nOldBkMode);
    }

    ::LeaveCriticalSection(&m_csValues);
}
