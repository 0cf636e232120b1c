// The view side of a pane: buffer operations, scroll state and rendering.
#include "panes/hex_pane.h"

#include "panes/line_format.h"

#include <algorithm>
#include <cstring>

void HexPane::UpdateTotalLines()
{
    m_nTotalLines = m_nLength / HEX_BYTES_PER_LINE + (m_nLength % HEX_BYTES_PER_LINE ? 1 : 0);
}

void HexPane::InitView(int lineHeight, int viewHeight)
{
    Clear();
    m_nTopLine = 0;
    m_nTotalLines = 0;
    m_nLineHeight = lineHeight;
    m_nViewHeight = viewHeight;
    UpdateScrollInfo();
    Render();
}

void HexPane::SetViewMetrics(int lineHeight, int viewHeight)
{
    if (lineHeight == m_nLineHeight && viewHeight == m_nViewHeight)
        return;
    const int caret = GetCaret();
    m_nLineHeight = lineHeight;
    m_nViewHeight = viewHeight;
    UpdateScrollInfo();
    Render();
    SetCaret(caret);
}

int HexPane::SetDataLength(int n)
{
    n = Resize(n);
    m_nTopLine = 0;
    UpdateTotalLines();
    UpdateScrollInfo();
    Render();
    return n;
}

int HexPane::SetData(int n, const std::uint8_t* src)
{
    n = std::clamp(n, 0, static_cast<int>(PANE_CAPACITY));
    SetDataLength(0);
    Append(n, src);
    m_nTopLine = 0;
    UpdateTotalLines();
    UpdateScrollInfo();
    Render();
    return n;
}

void HexPane::AppendData(int n, const std::uint8_t* src)
{
    Append(n, src);
    UpdateTotalLines();
    // The newest line becomes the last rendered row, the one below the page.
    m_nTopLine = m_nTotalLines - m_nLinesPerPage - 1;
    UpdateScrollInfo();
    Render();
}

void HexPane::UpdateScrollInfo()
{
    // A view lower than one line still shows (part of) one row.
    m_nLinesPerPage = m_nLineHeight > 0 ? std::max(m_nViewHeight / m_nLineHeight, 1) : 1;
    m_scroll.nMin = 0;
    m_scroll.nMax = m_nTotalLines - 1;
    m_scroll.nPage = m_nLinesPerPage;
    m_scroll.nPos = std::clamp(m_nTopLine, 0, std::max(0, m_nTotalLines - m_nLinesPerPage));
    m_scroll.bEnabled = m_nTotalLines > m_nLinesPerPage;
    OnViewChanged();
}

void HexPane::Render()
{
    const int first = FirstLine();
    const int last = std::min(m_nTotalLines - 1, m_scroll.nPos + m_nLinesPerPage);
    m_text.Clear(last - first + 1);
    for (int i = first; i <= last; ++i)
        m_text.CommitRow(FormatHexLine(m_pData, m_nLength, i, m_text.RowSpace()));
    m_text.SetCaret(m_text.Length());
    OnViewChanged();
}

std::string HexPane::FormatLine(int i) const
{
    char line[HEX_LINE_MAX];
    return std::string(line, static_cast<std::size_t>(FormatHexLine(m_pData, m_nLength, i, line)));
}

void HexPane::UpdateByte(int value, int viewIndex)
{
    const int r = viewIndex / HEX_BYTES_PER_LINE;
    const int k = viewIndex % HEX_BYTES_PER_LINE;
    if (viewIndex < 0 || r >= m_text.Rows())
        return;
    const auto byte = static_cast<std::uint8_t>(value);
    const int row = r * HEX_ROW_CHARS;
    m_text.Overwrite(row + ByteToColumn(ColumnZone::HexGroup1, k), HexDigits(byte), 2);
    const char c = HexTextChar(byte);
    m_text.Overwrite(row + HEX_COL_TEXT + k, &c, 1);
    OnViewChanged();
}

void HexPane::OnVScroll(int code, int track)
{
    NormalizeCaret();
    Scroll(code, track);
}

void HexPane::Scroll(int code, int track)
{
    const int caret = GetCaret();
    const int limit = m_nTotalLines - 1 - m_nLinesPerPage;
    // After "Bottom" the top line lies beyond the bar, which stops a page
    // short: going up starts from the line shown, not from the bar.
    const bool up = code == SB_LINEUP || code == SB_PAGEUP;
    const int pos = up ? std::max(m_scroll.nPos, m_nTopLine) : m_scroll.nPos;
    int q = pos;
    switch (code) {
    case SB_LINEUP:
        if (pos > 0)
            q = pos - 1;
        break;
    case SB_LINEDOWN:
        if (pos <= limit)
            q = pos + 1;
        break;
    case SB_PAGEUP:
        if (pos > 0)
            q = std::max(pos - m_nLinesPerPage, 0);
        break;
    case SB_PAGEDOWN:
        if (pos < limit)
            q = std::min(pos + m_nLinesPerPage, limit);
        break;
    case SB_THUMBPOSITION:
    case SB_THUMBTRACK:
        // Only an enabled bar has a thumb to drag.
        if (limit >= 0)
            q = std::clamp(track, 0, limit);
        break;
    case SB_TOP:
        q = 0;
        break;
    case SB_BOTTOM:
        q = std::max(m_nTotalLines - 1, 0);
        break;
    default:
        break;
    }
    if (q == pos)
        return;
    m_nTopLine = q;
    UpdateScrollInfo();
    Render();
    PlaceCaretOnData(caret);
}

bool HexPane::ByteExists(int row, int col) const
{
    const long long b = static_cast<long long>(FirstLine() + row) * HEX_BYTES_PER_LINE + ColumnToByte(col);
    return b < m_nLength;
}

void HexPane::PlaceCaretOnData(int pos)
{
    const int row = pos / HEX_ROW_CHARS;
    const int col = pos % HEX_ROW_CHARS;
    const ColumnZone zone = ClassifyColumn(col);
    if ((IsHexZone(zone) || zone == ColumnZone::Text) && !ByteExists(row, col)) {
        if (m_nLength == 0) {
            pos = 0;
        } else {
            const int last = m_nLength - 1;
            const int lastRow = std::max(last / HEX_BYTES_PER_LINE - FirstLine(), 0);
            pos = lastRow * HEX_ROW_CHARS + ByteToColumn(zone, last % HEX_BYTES_PER_LINE);
        }
    }
    SetCaret(pos);
}

void HexPane::SetCaret(int pos)
{
    m_text.SetCaret(pos);
    OnViewChanged();
}

bool HexPane::IsCaretStop(int pos) const
{
    if (pos < 0 || pos > m_text.Length())
        return false;
    const int row = pos / HEX_ROW_CHARS;
    const int col = pos % HEX_ROW_CHARS;
    return row < m_text.Rows() && IsStopColumn(col) && ByteExists(row, col);
}
