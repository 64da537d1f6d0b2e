#include "chart/MemDC.h"

CMemDC::CMemDC(CDC* pTargetDC, const RECT* pArea)
    : m_pPrevBitmap(nullptr), m_pTargetDC(pTargetDC), m_rcArea(), m_bOffscreen(FALSE) {
    m_bOffscreen = !pTargetDC->m_bPrinting;
    if (pArea != nullptr) {
        m_rcArea = *pArea;
    } else {
        pTargetDC->GetClipBox(&m_rcArea);
    }

    // Without a memory context or bitmap (GDI out of handles) the surface
    // draws straight onto the target: the picture may flicker, but it shows.
    if (m_bOffscreen && !BeginOffscreen()) m_bOffscreen = FALSE;
    if (!m_bOffscreen) {
        m_bPrinting = pTargetDC->m_bPrinting;
        m_hDC = pTargetDC->m_hDC;
        m_hAttribDC = pTargetDC->m_hAttribDC;
    }

    FillSolidRect(&m_rcArea, pTargetDC->GetBkColor());
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
        // The off-screen bitmap must not be selected when it is deleted.
        SelectObject(m_pPrevBitmap);
    } else {
        // Borrowed from the target: the base destructor must not delete it.
        m_hDC = m_hAttribDC = nullptr;
    }
}
