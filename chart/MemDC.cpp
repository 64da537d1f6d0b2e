#include "chart/MemDC.h"

CMemDC::CMemDC(CDC* pTargetDC, const RECT* pArea)
    : m_pPrevBitmap(nullptr),
      m_pTargetDC(pTargetDC),
      m_rcArea(),
      m_bOffscreen(FALSE),
      m_nSurfaceState(0) {
    m_bOffscreen = !pTargetDC->m_bPrinting;
    PrepareArea(pArea);

    // Without a memory context or bitmap (GDI out of handles) the surface
    // draws straight onto the target: the picture may flicker, but it shows.
    if (m_bOffscreen && !BeginOffscreen()) m_bOffscreen = FALSE;
    if (!m_bOffscreen) DrawStraight();

    FillSolidRect(&m_rcArea, pTargetDC->GetBkColor());
}

CMemDC::CMemDC(CDC* pTargetDC, const RECT* pArea, CDC* pSurface)
    : m_pPrevBitmap(nullptr),
      m_pTargetDC(pTargetDC),
      m_rcArea(),
      m_bOffscreen(FALSE),
      m_nSurfaceState(0) {
    PrepareArea(pArea);
    if (!pTargetDC->m_bPrinting && pSurface->GetSafeHdc() != nullptr) {
        m_nSurfaceState = ::SaveDC(pSurface->m_hDC);
    }
    if (m_nSurfaceState != 0) {
        m_bOffscreen = TRUE;
        m_hDC = m_hAttribDC = pSurface->m_hDC;
        SetMapMode(pTargetDC->GetMapMode());
        SetWindowOrg(m_rcArea.left, m_rcArea.top);
    } else {
        DrawStraight();
    }
    // Not cleared: the lender's first layer covers the area, and a second
    // fill of a whole frame would cost as much as a layer.
}

void CMemDC::PrepareArea(const RECT* pArea) {
    if (pArea != nullptr) {
        m_rcArea = *pArea;
    } else {
        m_pTargetDC->GetClipBox(&m_rcArea);
    }
}

void CMemDC::DrawStraight() {
    m_bPrinting = m_pTargetDC->m_bPrinting;
    m_hDC = m_pTargetDC->m_hDC;
    m_hAttribDC = m_pTargetDC->m_hAttribDC;
}

BOOL CMemDC::BeginOffscreen() {
    if (!CreateCompatibleDC(m_pTargetDC)) return FALSE;
    m_pTargetDC->LPtoDP(&m_rcArea);
    if (!m_bmpOffscreen.CreateCompatibleBitmap(m_pTargetDC, m_rcArea.right - m_rcArea.left,
                                               m_rcArea.bottom - m_rcArea.top)) {
        DeleteDC();
        m_pTargetDC->DPtoLP(&m_rcArea);
        return FALSE;
    }
    m_pPrevBitmap = SelectObject(&m_bmpOffscreen);
    SetMapMode(m_pTargetDC->GetMapMode());
    m_pTargetDC->DPtoLP(&m_rcArea);
    SetWindowOrg(m_rcArea.left, m_rcArea.top);
    return TRUE;
}

CMemDC::~CMemDC() {
    if (m_bOffscreen) {
        m_pTargetDC->BitBlt(m_rcArea.left, m_rcArea.top, m_rcArea.right - m_rcArea.left,
                            m_rcArea.bottom - m_rcArea.top, this, m_rcArea.left, m_rcArea.top,
                            SRCCOPY);
        if (m_nSurfaceState != 0) {
            // Borrowed: back as it was lent, and not deleted with this.
            ::RestoreDC(m_hDC, m_nSurfaceState);
            m_hDC = m_hAttribDC = nullptr;
        } else {
            // The off-screen bitmap must not be selected when it is deleted.
            SelectObject(m_pPrevBitmap);
        }
    } else {
        // Borrowed from the target: the base destructor must not delete it.
        m_hDC = m_hAttribDC = nullptr;
    }
}
