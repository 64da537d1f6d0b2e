#include "chart/MemDC.h"

CMemDC::CMemDC(CDC* pTargetDC, const RECT* pArea)
    : m_pPrevBitmap(nullptr),
      m_pTargetDC(pTargetDC),
      m_rcArea(),
      m_bOffscreen(FALSE),
      m_bLent(FALSE),
      m_nLentMapMode(0),
      m_ptLentOrg() {
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
      m_bLent(FALSE),
      m_nLentMapMode(0),
      m_ptLentOrg() {
    PrepareArea(pArea);
    if (pTargetDC->m_bPrinting || pSurface->GetSafeHdc() == nullptr) {
        DrawStraight();
        return;
    }
    m_bLent = TRUE;
    m_bOffscreen = TRUE;
    m_hDC = m_hAttribDC = pSurface->m_hDC;
    // Only the mapping is set here and put back later, and only where it
    // differs: saving and restoring the whole context would cost as much as
    // the copy to the window, and the drawing steps put back what they
    // select and set themselves.
    m_nLentMapMode = GetMapMode();
    ::GetWindowOrgEx(m_hDC, &m_ptLentOrg);
    const int nMapMode = pTargetDC->GetMapMode();
    if (nMapMode != m_nLentMapMode) SetMapMode(nMapMode);
    if (m_ptLentOrg.x != m_rcArea.left || m_ptLentOrg.y != m_rcArea.top) {
        SetWindowOrg(m_rcArea.left, m_rcArea.top);
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
        if (m_bLent) {
            // Borrowed: its mapping back as it was lent, and not deleted with this.
            if (GetMapMode() != m_nLentMapMode) SetMapMode(m_nLentMapMode);
            POINT ptOrg;
            ::GetWindowOrgEx(m_hDC, &ptOrg);
            if (ptOrg.x != m_ptLentOrg.x || ptOrg.y != m_ptLentOrg.y) {
                SetWindowOrg(m_ptLentOrg.x, m_ptLentOrg.y);
            }
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
