#pragma once

// HexPane: everything a data pane does that needs no window. It owns the
// pane's bytes (PaneBuffer), the scroll state, the rendered rows and the
// caret; CHexEdit paints it and feeds it keys, characters, clicks and scroll
// commands. Positions are those of the rendered text: row = pos / 78,
// column = pos % 78, row 0 showing data line max(m_nTopLine, 0).
#include "panes/column_zone.h"
#include "panes/pane_buffer.h"
#include "panes/text_surface.h"

#include <cstdint>
#include <string>

// Vertical scroll commands.
enum : int {
    SB_LINEUP = 0,
    SB_LINEDOWN = 1,
    SB_PAGEUP = 2,
    SB_PAGEDOWN = 3,
    SB_THUMBPOSITION = 4,
    SB_THUMBTRACK = 5,
    SB_TOP = 6,
    SB_BOTTOM = 7,
    SB_ENDSCROLL = 8,
};

// The keys of the dedicated cursor block that a pane acts on.
enum class PaneKey { Up, Down, Left, Right, PageUp, PageDown };

// The vertical bar as the pane sets it: range nMin..nMax, page nPage and the
// thumb position nPos, kept within 0..max(0, nMax + 1 - nPage).
struct PaneScrollInfo
{
    int nMin = 0;
    int nMax = -1;
    int nPage = 0;
    int nPos = 0;
    bool bEnabled = false;
};

class HexPane : public PaneBuffer
{
public:
    HexPane() = default;
    virtual ~HexPane() = default;

    // Clears the pane and takes the view's measurements (pixels).
    void InitView(int lineHeight, int viewHeight);
    // New measurements after a font or size change; the caret keeps its place.
    void SetViewMetrics(int lineHeight, int viewHeight);
    int SetDataLength(int n);
    int SetData(int n, const std::uint8_t* src);
    void AppendData(int n, const std::uint8_t* src);
    // The same for bytes held as char (QByteArray, socket reads).
    int SetData(int n, const char* src) { return SetData(n, reinterpret_cast<const std::uint8_t*>(src)); }
    void AppendData(int n, const char* src) { AppendData(n, reinterpret_cast<const std::uint8_t*>(src)); }

    void UpdateScrollInfo();
    void Render();
    // One data line as the pane shows it; empty past the data.
    std::string FormatLine(int i) const;
    void UpdateByte(int value, int viewIndex);

    // Input, as the widget forwards it.
    void OnVScroll(int code, int track = 0);
    void OnKeyDown(PaneKey key);
    void OnChar(unsigned c);
    void OnLButtonUp(int pos);
    void MoveCaretLeft(int pos);
    void MoveCaretRight(int pos);

    int GetCaret() const { return m_text.Caret(); }
    void SetCaret(int pos);
    // True when pos is a caret stop of a byte that exists.
    bool IsCaretStop(int pos) const;
    int FirstLine() const { return m_nTopLine > 0 ? m_nTopLine : 0; }
    const TextSurface& Surface() const { return m_text; }
    const PaneScrollInfo& ScrollInfo() const { return m_scroll; }

    int m_nTopLine = 0;
    int m_nLinesPerPage = 0;
    int m_nTotalLines = 0;
    int m_nLineHeight = 0;
    int m_nViewHeight = 0;

protected:
    // Called after the text, the caret or the bar changed, for repainting.
    virtual void OnViewChanged() {}

private:
    void Scroll(int code, int track);
    // Puts the caret at pos, moved onto the last byte when pos stands for
    // none (after a scroll, or a move to the next line).
    void PlaceCaretOnData(int pos);
    int SnapClick(int pos) const;
    // Brings a caret left off the stops (after a render) onto one.
    void NormalizeCaret();
    bool ByteExists(int row, int col) const;
    void UpdateTotalLines();

    TextSurface m_text;
    PaneScrollInfo m_scroll;
};
