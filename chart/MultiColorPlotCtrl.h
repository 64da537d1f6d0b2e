// A self-drawing strip chart bound to a static control. It keeps a fixed
// window of the most recent values (index 0 the oldest), takes one value per
// AppendValue, and repaints every 50 ms on its own timer: a paint copies the
// kept frame unless something changed since it was drawn, and otherwise draws
// the chart anew off-screen, on the kept frame only where it changed.
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

    // True when DrawCaption draws nothing but this class's captions, so that
    // a frame can be drawn again only where it changed. A subclass that draws
    // in DrawCaption keeps the default, which says so only for this class.
    virtual bool DrawsOnlyOwnCaptions() const;
    // The next paint draws the whole frame, not only what changed.
    void InvalidateWholeFrame();

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

    // What the grid layer is drawn from.
    struct GridLayerKey {
        int nWidth, nHeight, nClientWidth, nClientHeight;
        int nStepX, nStepY, nOffsetX, nOffsetY;
        COLORREF crBackground;
        int nPenSerial;
        int nBitsPixel;
    };
    // A caption as drawn: its text, its place, and the pixels it covered.
    struct Caption {
        char szText[261];
        int nLength;
        POINT pt;
        RECT rcInk;  // empty when it left no pixel
    };
    static const int kMaxCaptions = 3;
    // What one frame draws over the grid, and where its pixels went.
    struct FrameLayers {
        POINT* pPoints;  // the curve's line, flat runs merged
        int nPoints;
        int nCapacity;
        COLORREF crLine;
        int nLineWidth;
        RECT rcCurve;
        // Where the line's pixels can lie, left to right, in few rectangles
        // (room for one per point): a restore or a caption test over them
        // leaves alone what the whole bounds would take in below a line.
        RECT* pBands;
        int nBands;
        bool bBandsHoldInk;  // rcCurve lies within their bounds
        Caption captions[kMaxCaptions];
        int nCaptions;
        HGDIOBJ hFont;
        COLORREF crCaption;
        GridLayerKey gridKey;
        bool bGridLayer;  // the grid beneath is the layer of gridKey
        bool bInkKnown;   // every rectangle above came from the system
    };
    // On a frame drawn in place: which layers are drawn again.
    struct InPlacePlan {
        bool bActive;
        bool bCurve;
        bool bCaption[kMaxCaptions];
        bool bSuspect;  // a layer left pixels the plan did not foresee
    };
    // Where the grid layer fits pDC, the key it would be drawn from.
    bool GridLayerKeyFor(CDC* pDC, GridLayerKey* pKey) const;
    // Whether this paint may draw only what changed on the kept frame.
    bool CanDrawInPlace(CDC* pDC, bool bPeriodic);
    // The frame's layers in order; in place, only what changed.
    void DrawFrameLayers(CDC* pDC, bool bInPlace);
    // The captions the next frame shows; under m_csValues.
    void FormatCaptions();
    // Decides what an in-place frame draws again and puts the grid back
    // beneath it; rcNewCurve holds every pixel the new line can set.
    void PlanInPlace(CDC* pDC, const RECT& rcNewCurve);
    // Whether rc shares a pixel with the line of layers: with its bands
    // where they are to be trusted, else with rcWhole.
    static bool CurveOverlaps(const FrameLayers& layers, const RECT& rc, const RECT& rcWhole,
                              bool bByBands);
    // The bands of the line through the nPoints points of m_drawn, each
    // segment widened by nReach and cut to the client area.
    void BandCurve(int nReach);
    void RestoreGrid(CDC* pDC, const RECT& rc);
    // The frame just drawn is what the kept frame shows from now on.
    void KeepDrawnLayers(bool bWhole);
    bool EnsurePointCapacity(int nCount);
    // Selects a stock pen into the kept frame in place of the curve's, which
    // can then be deleted: DeleteObject fails for a pen still selected into a
    // context (Microsoft's documentation), though Wine lets it pass.
    void ReleaseFramePen();
    // Whether drawing on pDC is recorded, and marks the kept frame changed
    // when something draws on it outside a paint.
    bool RecordsInk(CDC* pDC);

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
    int m_nFrameBitsPixel;  // of the frame's bitmap, which only PrepareFrame selects
    volatile LONG m_nFrameStale;
    int m_nReusedPaints;
    // The background and grid as last drawn, and what they were drawn from.
    // Under Wine the lines cost most of a frame; the copy a fraction.
    CDC m_dcGrid;
    CBitmap m_bmpGrid;
    CBitmap* m_pOldGridBitmap;
    GridLayerKey m_gridKey;
    int m_nGridPenSerial;  // counts the grid pens made
    // The curve's pen, and the colour and width it was made with.
    CPen m_penLine;
    COLORREF m_crLinePen;
    int m_nLinePenWidth;
    // Left selected in the kept frame between frames, or null.
    HGDIOBJ m_hFramePen;
    // The layers of the frame being drawn and of the kept frame; whether
    // the kept frame is exactly the grid layer with its layers over it.
    FrameLayers m_drawn;
    FrameLayers m_shown;
    bool m_bShownExact;
    bool m_bFrameBounds;  // the kept frame accumulates drawing bounds
    InPlacePlan m_plan;
    bool m_bInPaint;  // a paint is drawing its frame
    volatile LONG m_nWholeWanted;
    int m_nPaintsSinceWhole;
    // The range's numbers as last formatted: the range seldom changes, and
    // a number is the costliest part of a caption's text.
    // Room for any float as "%8.1f".
    static const int kNumberTextSize = 48;
    struct RangeTexts {
        float fMin, fMax;  // compared bit for bit
        bool bValid;
        char szMin[kNumberTextSize], szMid[kNumberTextSize], szMax[kNumberTextSize];
    };
    RangeTexts m_rangeTexts;
    // The newest value as last formatted, the same way.
    struct NumberText {
        float fValue;  // compared bit for bit
        bool bValid;
        char szText[kNumberTextSize];
    };
    NumberText m_valueText;

    DECLARE_MESSAGE_MAP()
};
