// A self-drawing strip chart bound to a static control. It keeps a fixed
// window of the most recent values (index 0 the oldest), takes one value per
// AppendValue, and repaints every 50 ms on its own timer: a paint copies the
// kept frame unless something changed since it was drawn, and otherwise draws
// the chart anew off-screen.
#pragma once

#include <windows.h>

#include "framework/Gdi.h"
#include "framework/Wnd.h"

class CMemDC;

class CMultiColorPlotCtrl : public CStatic {
  public:
    CMultiColorPlotCtrl();
    ~CMultiColorPlotCtrl() override;

    // The window's shape: its client size with corners rounded by an
    // ellipse of this width and height.
    static constexpr int kCornerEllipse = 10;

    // AppendValue, SetPointSpacing and the three range operations may be
    // called from any thread while the window's thread paints; the other
    // operations belong to the window's thread.
    void AppendValue(float fValue);

    // Longer texts are cut to the buffer's size.
    void SetTitle(LPCSTR pszTitle);
    void SetUnit(LPCSTR pszUnit);

    void SetValueRange(float fMin, float fMax);
    void SetMinMax(float fMin, float fMax);
    void SetFixedRange(bool bFixed);

    // Spacings and steps below 1 are refused: the old value stays.
    BOOL SetPointSpacing(int nPixels);
    void SetGridStepX(int nPixels);
    void SetGridStepY(int nPixels);
    void SetGridScrollX(int nPixels);
    void SetGridScrollY(int nPixels);

    void SetGridPenWidth(int nWidth);
    void SetGridColor(COLORREF crColor);
    void SetGridPen(int nWidth, COLORREF crColor);
    void SetBackgroundColor(COLORREF crColor);
    void SetCaptionColor(COLORREF crColor);
    void SetCaptionMode(int nMode);
    void SetPlotStyle(int nStyle);
    void SetLineColor(COLORREF crColor);
    void SetLineWidth(int nWidth);
    void SetLinePen(COLORREF crColor, int nWidth);
    COLORREF GetLineColor() const { return m_crLine; }
    int GetLineWidth() const { return m_nLineWidth; }

  protected:
    void PreSubclassWindow() override;

    void OnPaint();
    BOOL OnEraseBkgnd(CDC* pDC);
    void OnTimer(UINT_PTR nIDEvent);

    void DrawGradient(CDC* pDC);
    // The background and the grid lines, copied from a kept layer while
    // nothing they are drawn from has changed; then the grid's phase moves on.
    void DrawGrid(CDC* pDC);
    // DrawCurve enters m_csValues and DrawCaption leaves it: always call
    // both, in this order. A subclass that draws texts of its own does so
    // in DrawCaption, still under the lock, from the state the curve showed.
    void DrawCurve(CDC* pDC);
    virtual void DrawCaption(CDC* pDC);

    // The client row of a value, by the current range and the set-up height.
    int ValueToRow(float fValue) const;
    void RebuildGridPen();
    // Puts a zeroed window of nCount values and its spacing in place of the
    // old ones; false, leaving no window, when it cannot be allocated.
    bool SwapValues(int nCount, int nSpacing);
    // The kept frame no longer shows the chart: the next paint draws anew.
    // Safe from any thread.
    void InvalidateFrame();
    // The kept frame, made or remade for this size; false when it cannot be.
    bool PrepareFrame(CDC* pTargetDC, int nWidth, int nHeight);
    // Background and lines drawn straight; false when GDI refused a part.
    bool PaintGrid(CDC* pDC);
    // The kept grid layer, remade when needed, copied onto pDC; false when
    // pDC is not a surface it fits or no layer can be had.
    bool CopyGridLayer(CDC* pDC);

    CBitmap* m_pOldGradientBitmap;
    CBitmap m_bmpGradient;
    CDC m_dcGradient;
    int m_nPlotStyle;
    int m_nGridStepX;
    int m_nGridStepY;
    int m_nGridScrollX;
    int m_nGridScrollY;
    int m_nPointSpacing;
    int m_nGridPenWidth;
    COLORREF m_crBackground;
    COLORREF m_crGrid;
    RECT m_rcClient;
    int m_nClientWidth;
    int m_nClientHeight;
    int m_nPointCount;
    float* m_pValues;
    float m_fRangeMin;
    float m_fRangeMax;
    COLORREF m_crBarTop;
    CPen m_penGrid;
    CBrush m_brushBar;
    int m_nGridOffsetX;
    int m_nGridOffsetY;
    bool m_bFixedRange;
    CFont m_fontCaption;
    COLORREF m_crCaption;
    int m_nCaptionMode;
    char m_szTitle[261];
    char m_szUnit[35];
    COLORREF m_crLine;
    int m_nLineWidth;
    CRITICAL_SECTION m_csValues;
    // The last finished frame, and whether it still shows the chart.
    CDC m_dcFrame;
    CBitmap m_bmpFrame;
    CBitmap* m_pOldFrameBitmap;
    int m_nFrameWidth;
    int m_nFrameHeight;
    volatile LONG m_nFrameStale;
    int m_nReusedPaints;
    // The background and grid as last drawn, and what they were drawn from.
    // Under Wine the lines cost most of a frame; the copy a fraction.
    struct GridLayerKey {
        int nWidth, nHeight, nClientWidth, nClientHeight;
        int nStepX, nStepY, nOffsetX, nOffsetY;
        COLORREF crBackground;
        int nPenSerial;
        int nBitsPixel;
    };
    CDC m_dcGrid;
    CBitmap m_bmpGrid;
    CBitmap* m_pOldGridBitmap;
    GridLayerKey m_gridKey;
    int m_nGridPenSerial;  // counts the grid pens made
    // The curve's pen, and the colour and width it was made with.
    CPen m_penLine;
    COLORREF m_crLinePen;
    int m_nLinePenWidth;

    DECLARE_MESSAGE_MAP()
};
