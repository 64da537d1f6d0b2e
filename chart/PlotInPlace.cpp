// Frames drawn in place: on the kept frame, only the layers that changed are
// drawn again, over the grid put back where they lay. Four times a second a
// drawn frame finds its code and memory cold, and then the copy of the whole
// grid layer and the texts cost several times what they cost in a loop.
#include <cstdio>
#include <cstring>
#include <typeinfo>
#include <utility>

#include "chart/InkRect.h"
#include "chart/MultiColorPlotCtrl.h"
#include "chart/Tenths.h"

namespace {

// What an in-place frame cannot compare (the system's font smoothing, a font
// remade under its old handle) shows at the next whole frame: at least one
// every 100 paints, five seconds.
const int kMaxPaintsBetweenWholeFrames = 100;

const RECT kNoPixels = {0, 0, 0, 0};

// A segment joins the band before it while the pixels the union adds stay
// under this: about what one more copy call costs next to copying pixels.
const long kBandSlackPixels = 1024;

// Builds a text as snprintf does from "%s" pieces, cut where the buffer ends,
// without the formatter: a drawn frame finds the C library's formatting code
// cold, and most frames' texts are those of the frame before.
class TextBuilder {
  public:
    TextBuilder(char* psz, size_t cch) : m_psz(psz), m_cch(cch) {
        if (cch > 0) psz[0] = '\0';
    }
    TextBuilder& operator<<(const char* pszPiece) {
        if (m_nLength + 1 >= m_cch) return *this;
        size_t n = strlen(pszPiece);
        if (n > m_cch - 1 - m_nLength) n = m_cch - 1 - m_nLength;
        memcpy(m_psz + m_nLength, pszPiece, n);
        m_nLength += n;
        m_psz[m_nLength] = '\0';
        return *this;
    }

  private:
    char* m_psz;
    size_t m_cch;
    size_t m_nLength = 0;
};

// "%8.1f" of a float: made here where that is exact, else by the library.
void FormatNumber(float fValue, char* psz, size_t cch) {
    if (!FormatTenths(fValue, psz, cch)) snprintf(psz, cch, "%8.1f", fValue);
}

long Area(const RECT& rc) {
    return rc.left < rc.right && rc.top < rc.bottom
               ? static_cast<long>(rc.right - rc.left) * (rc.bottom - rc.top)
               : 0;
}

}  // namespace

bool CMultiColorPlotCtrl::DrawsOnlyOwnCaptions() const {
    return typeid(*this) == typeid(CMultiColorPlotCtrl);
}

bool CMultiColorPlotCtrl::RecordsInk(CDC* pDC) {
    if (pDC->m_hDC == nullptr || pDC->m_hDC != m_dcFrame.m_hDC) return false;
    if (!m_bInPaint) m_bShownExact = false;
    return m_bFrameBounds;
}

bool CMultiColorPlotCtrl::CanDrawInPlace(CDC* pDC, bool bPeriodic) {
    if (bPeriodic || !m_bShownExact || !m_bFrameBounds || m_nPlotStyle != 1 ||
        m_nPaintsSinceWhole > kMaxPaintsBetweenWholeFrames || m_dcGrid.GetSafeHdc() == nullptr ||
        !DrawsOnlyOwnCaptions()) {
        return false;
    }
    GridLayerKey key;
    return GridLayerKeyFor(pDC, &key) && memcmp(&key, &m_gridKey, sizeof(key)) == 0 &&
           memcmp(&key, &m_shown.gridKey, sizeof(key)) == 0;
}

void CMultiColorPlotCtrl::DrawFrameLayers(CDC* pDC, bool bInPlace) {
    m_plan = InPlacePlan();
    m_plan.bActive = bInPlace;
    m_bInPaint = true;
    if (bInPlace) {
        m_drawn.gridKey = m_shown.gridKey;
        m_drawn.bGridLayer = true;
    } else {
        DrawGrid(pDC);
    }
    DrawCurve(pDC);
    DrawCaption(pDC);
    m_bInPaint = false;
    m_plan.bActive = false;
    // Captions that share pixels must each be drawn over the one before.
    for (int i = 0; i < m_drawn.nCaptions; ++i) {
        for (int j = i + 1; j < m_drawn.nCaptions; ++j) {
            if (Overlap(m_drawn.captions[i].rcInk, m_drawn.captions[j].rcInk)) {
                m_drawn.bInkKnown = false;
                if (bInPlace) m_plan.bSuspect = true;
            }
        }
    }
}

void CMultiColorPlotCtrl::FormatCaptions() {
    m_drawn.nCaptions = 0;
    m_drawn.hFont = m_fontCaption.GetSafeHandle();
    m_drawn.crCaption = m_crCaption;
    if (m_drawn.hFont == nullptr || m_nCaptionMode < 1 || m_nCaptionMode > 4) return;

    RangeTexts& range = m_rangeTexts;
    if (!range.bValid || memcmp(&range.fMin, &m_fRangeMin, sizeof(float)) != 0 ||
        memcmp(&range.fMax, &m_fRangeMax, sizeof(float)) != 0) {
        range.fMin = m_fRangeMin;
        range.fMax = m_fRangeMax;
        float fSpan = m_fRangeMax - m_fRangeMin;
        double fMid = fSpan * 0.5 + m_fRangeMin;
        FormatNumber(m_fRangeMin, range.szMin, sizeof(range.szMin));
        snprintf(range.szMid, sizeof(range.szMid), "%8.1f", fMid);
        FormatNumber(m_fRangeMax, range.szMax, sizeof(range.szMax));
        range.bValid = true;
    }

    // The title is "%s %8.1f %s / %s" of title, value, unit and maximum; the
    // value is formatted again only when it changed.
    Caption* pCaptions = m_drawn.captions;
    const size_t cchText = sizeof(pCaptions[0].szText);
    TextBuilder title(pCaptions[0].szText, cchText);
    if (m_nCaptionMode == 1) {
        title << m_szTitle;
    } else {
        const char* pszValue = "        ";  // no sample slot: the value's place stays blank
        if (m_pValues != nullptr && m_nPointCount > 0) {
            const float fValue = m_pValues[m_nPointCount - 1];
            NumberText& value = m_valueText;
            if (!value.bValid || memcmp(&value.fValue, &fValue, sizeof(float)) != 0) {
                value.fValue = fValue;
                FormatNumber(fValue, value.szText, sizeof(value.szText));
                value.bValid = true;
            }
            pszValue = value.szText;
        }
        title << m_szTitle << " " << pszValue << " " << m_szUnit << " / " << range.szMax;
    }
    pCaptions[0].pt = POINT{0, 0};
    int nCaptions = 1;
    if (m_nCaptionMode >= 3) {
        TextBuilder(pCaptions[nCaptions].szText, cchText) << range.szMin;
        pCaptions[nCaptions++].pt = POINT{0, m_nClientHeight - 10};
    }
    if (m_nCaptionMode == 4) {
        TextBuilder(pCaptions[nCaptions].szText, cchText) << range.szMid;
        pCaptions[nCaptions++].pt = POINT{0, m_nClientHeight / 2};
    }
    for (int i = 0; i < nCaptions; ++i) {
        pCaptions[i].nLength = static_cast<int>(strlen(pCaptions[i].szText));
        pCaptions[i].rcInk = kNoPixels;
    }
    m_drawn.nCaptions = nCaptions;
}

void CMultiColorPlotCtrl::BandCurve(int nReach) {
    FrameLayers& layers = m_drawn;
    layers.nBands = 0;
    const POINT* p = layers.pPoints;
    // A lone point draws nothing; its rectangle still stands for it.
    const int nSegments = layers.nPoints > 1 ? layers.nPoints - 1 : layers.nPoints;
    long nBandArea = 0;
    for (int i = 0; i < nSegments; ++i) {
        const POINT& a = p[i];
        const POINT& b = p[i + 1 < layers.nPoints ? i + 1 : i];
        RECT rc = {a.x < b.x ? a.x : b.x, a.y < b.y ? a.y : b.y, (a.x > b.x ? a.x : b.x) + 1,
                   (a.y > b.y ? a.y : b.y) + 1};
        ::InflateRect(&rc, nReach, nReach);
        // Off the chart (a value below its range lies under the bottom row)
        // nothing is drawn, nor is anything to be put back.
        if (!::IntersectRect(&rc, &rc, &m_rcClient)) continue;
        if (layers.nBands > 0) {
            RECT& band = layers.pBands[layers.nBands - 1];
            RECT rcUnion;
            ::UnionRect(&rcUnion, &band, &rc);
            if (Area(rcUnion) - nBandArea - Area(rc) <= kBandSlackPixels) {
                band = rcUnion;
                nBandArea = Area(rcUnion);
                continue;
            }
        }
        layers.pBands[layers.nBands++] = rc;
        nBandArea = Area(rc);
    }
}

bool CMultiColorPlotCtrl::CurveOverlaps(const FrameLayers& layers, const RECT& rc,
                                        const RECT& rcWhole, bool bByBands) {
    if (!bByBands) return Overlap(rc, rcWhole);
    for (int i = 0; i < layers.nBands; ++i) {
        if (Overlap(rc, layers.pBands[i])) return true;
    }
    return false;
}

void CMultiColorPlotCtrl::PlanInPlace(CDC* pDC, const RECT& rcNewCurve) {
    const FrameLayers& now = m_drawn;
    const FrameLayers& was = m_shown;
    m_plan.bCurve =
        now.nPoints != was.nPoints || now.crLine != was.crLine ||
        now.nLineWidth != was.nLineWidth ||
        (now.nPoints > 0 && memcmp(now.pPoints, was.pPoints, now.nPoints * sizeof(POINT)) != 0);

    // A caption is drawn again where it changed, and its old pixels put back.
    const bool bSameLook = now.hFont == was.hFont && now.crCaption == was.crCaption;
    const int nAll = now.nCaptions > was.nCaptions ? now.nCaptions : was.nCaptions;
    bool bRestore[kMaxCaptions] = {};
    for (int i = 0; i < nAll; ++i) {
        const bool bChanged =
            !bSameLook || i >= now.nCaptions || i >= was.nCaptions ||
            now.captions[i].nLength != was.captions[i].nLength ||
            now.captions[i].pt.x != was.captions[i].pt.x ||
            now.captions[i].pt.y != was.captions[i].pt.y ||
            memcmp(now.captions[i].szText, was.captions[i].szText, now.captions[i].nLength) != 0;
        m_plan.bCaption[i] = bChanged && i < now.nCaptions;
        bRestore[i] = bChanged && i < was.nCaptions;
    }

    // The new line is not drawn yet: its bands say where it will lie, and
    // DrawCurve checks them against what it then set.
    const bool bNewByBands = now.nBands > 0;

    // The layers lie over each other: putting the grid back beneath a caption
    // wipes the line there, and a line drawn again covers the captions over
    // it, so each brings the other in until nothing more is touched.
    for (bool bMore = true; bMore;) {
        bMore = false;
        for (int i = 0; i < was.nCaptions; ++i) {
            const RECT& rcWas = was.captions[i].rcInk;
            if (m_plan.bCurve && !bRestore[i] &&
                (CurveOverlaps(was, rcWas, was.rcCurve, was.bBandsHoldInk) ||
                 CurveOverlaps(now, rcWas, rcNewCurve, bNewByBands))) {
                m_plan.bCaption[i] = i < now.nCaptions;
                bRestore[i] = bMore = true;
            }
            if (bRestore[i] && !m_plan.bCurve &&
                CurveOverlaps(was, rcWas, was.rcCurve, was.bBandsHoldInk)) {
                m_plan.bCurve = bMore = true;
            }
        }
    }

    if (m_plan.bCurve) {
        if (was.bBandsHoldInk) {
            for (int i = 0; i < was.nBands; ++i) RestoreGrid(pDC, was.pBands[i]);
        } else {
            RestoreGrid(pDC, was.rcCurve);
        }
    }
    for (int i = 0; i < was.nCaptions; ++i) {
        if (bRestore[i]) RestoreGrid(pDC, was.captions[i].rcInk);
    }
}

void CMultiColorPlotCtrl::RestoreGrid(CDC* pDC, const RECT& rc) {
    if (rc.left >= rc.right || rc.top >= rc.bottom) return;
    if (!pDC->BitBlt(rc.left, rc.top, rc.right - rc.left, rc.bottom - rc.top, &m_dcGrid, rc.left,
                     rc.top, SRCCOPY)) {
        m_plan.bSuspect = true;
    }
}

void CMultiColorPlotCtrl::KeepDrawnLayers(bool bWhole) {
    std::swap(m_drawn, m_shown);
    m_bShownExact = bWhole && m_shown.bInkKnown && m_shown.bGridLayer && !m_plan.bSuspect;
}
