// The input side of a pane: cursor keys, caret moves, typing and the click
// snap. Editing is always in place; nothing here changes m_nLength.
#include "panes/hex_pane.h"

#include <algorithm>

namespace {

int HexDigitValue(unsigned c)
{
    if (c >= '0' && c <= '9')
        return static_cast<int>(c - '0');
    if (c >= 'a' && c <= 'f')
        return static_cast<int>(c - 'a' + 10);
    if (c >= 'A' && c <= 'F')
        return static_cast<int>(c - 'A' + 10);
    return -1;
}

} // namespace

void HexPane::OnKeyDown(PaneKey key)
{
    NormalizeCaret();
    const int s = GetCaret();
    const int row = s / HEX_ROW_CHARS;
    switch (key) {
    case PaneKey::Up:
        if (row > 0) {
            SetCaret(s - HEX_ROW_CHARS);
        } else {
            Scroll(SB_LINEUP, 0);
            SetCaret(s);
        }
        break;
    case PaneKey::PageUp:
        Scroll(SB_PAGEUP, 0);
        PlaceCaretOnData(s);
        break;
    case PaneKey::Left:
        MoveCaretLeft(s);
        break;
    case PaneKey::Right:
        MoveCaretRight(s);
        break;
    case PaneKey::Down:
        if (row == m_nLinesPerPage - 1) {
            Scroll(SB_LINEDOWN, 0);
            PlaceCaretOnData(s);
        } else if (row >= m_nLinesPerPage) {
            // The partly shown row below the page: the row under it is not
            // rendered, so the byte below comes into view by a scroll, and
            // without one nothing happens.
            if (ByteExists(row + 1, s % HEX_ROW_CHARS)) {
                Scroll(SB_LINEDOWN, 0);
                PlaceCaretOnData(s);
            }
        } else if (ByteExists(row + 1, s % HEX_ROW_CHARS)) {
            SetCaret(s + HEX_ROW_CHARS);
        }
        break;
    case PaneKey::PageDown:
        Scroll(SB_PAGEDOWN, 0);
        PlaceCaretOnData(s);
        break;
    }
}

void HexPane::MoveCaretLeft(int s)
{
    const int row = s / HEX_ROW_CHARS;
    const int col = s % HEX_ROW_CHARS;
    const ColumnZone zone = ClassifyColumn(col);
    const ColumnZone before = ClassifyColumn(col - 1);
    if (before == ColumnZone::None) {
        if (row > 0) {
            // Onto the previous line's last stop on the same side.
            SetCaret(zone == ColumnZone::Text ? s - 63 : s - 31);
        } else if (m_nTopLine > 0) {
            Scroll(SB_LINEUP, 0);
            SetCaret(s);
        }
        return;
    }
    if (before == ColumnZone::Gap) {
        SetCaret(s - 3);
        return;
    }
    switch (zone) {
    case ColumnZone::HexGroup1:
        SetCaret((col - HEX_COL_GROUP1) % 3 == 0 ? s - 2 : s - 1);
        break;
    case ColumnZone::HexGroup2:
        SetCaret((col - HEX_COL_GROUP2) % 3 == 0 ? s - 2 : s - 1);
        break;
    case ColumnZone::Text:
        SetCaret(s - 1);
        break;
    default:
        break;
    }
}

void HexPane::MoveCaretRight(int s)
{
    const int row = s / HEX_ROW_CHARS;
    const int col = s % HEX_ROW_CHARS;
    const ColumnZone zone = ClassifyColumn(col);
    const ColumnZone after = ClassifyColumn(col + 1);
    const int first = FirstLine();
    if (after == ColumnZone::None) {
        if (static_cast<long long>(first + row + 1) * HEX_BYTES_PER_LINE >= m_nLength)
            return;
        const bool text = zone == ColumnZone::Text;
        if (row < m_nLinesPerPage - 1) {
            PlaceCaretOnData(text ? s + 63 : s + 31);
        } else if (first < m_nTotalLines - m_nLinesPerPage) {
            Scroll(SB_LINEDOWN, 0);
            PlaceCaretOnData(text ? s - 15 : s - 47);
        }
        return;
    }
    if (after == ColumnZone::Gap) {
        if (ByteExists(row, col + 3))
            SetCaret(s + 3);
        return;
    }
    int next = -1;
    switch (zone) {
    case ColumnZone::HexGroup1:
        next = (col - 8) % 3 == 0 ? s + 2 : s + 1;
        break;
    case ColumnZone::HexGroup2:
        next = (col - 33) % 3 == 0 ? s + 2 : s + 1;
        break;
    case ColumnZone::Text:
        next = s + 1;
        break;
    default:
        return;
    }
    if (ByteExists(row, next % HEX_ROW_CHARS))
        SetCaret(next);
}

void HexPane::OnChar(unsigned c)
{
    if (m_nLength == 0)
        return;
    // Only a caret on a byte's stop may change that byte; a caret off the
    // stops (after a render) is only brought onto one.
    const int s = GetCaret();
    if (!IsCaretStop(s)) {
        NormalizeCaret();
        return;
    }
    const int row = s / HEX_ROW_CHARS;
    const int col = s % HEX_ROW_CHARS;
    const ColumnZone zone = ClassifyColumn(col);
    const int k = ColumnToByte(col);
    const int b = (FirstLine() + row) * HEX_BYTES_PER_LINE + k;
    const int v = row * HEX_BYTES_PER_LINE + k;
    switch (c) {
    case 8:
        MoveCaretLeft(s);
        return;
    case 9:
        if (zone == ColumnZone::Text) {
            // The text stop stands for the next line's byte 0, which has no
            // hex cell on this row: the caret stays.
            if (col != HEX_COL_TEXT_STOP)
                SetCaret(row * HEX_ROW_CHARS + ByteToColumn(ColumnZone::HexGroup1, k));
        } else {
            SetCaret(row * HEX_ROW_CHARS + HEX_COL_TEXT + k);
        }
        return;
    case 13:
        return;
    default:
        break;
    }
    std::uint8_t value;
    if (zone == ColumnZone::Text) {
        if (c >= 0x80)
            return;
        value = static_cast<std::uint8_t>(c);
    } else {
        const int digit = HexDigitValue(c);
        if (digit < 0)
            return;
        const bool high = col == ByteToColumn(zone, k);
        const std::uint8_t old = m_pData[b];
        value = static_cast<std::uint8_t>(high ? (digit << 4) | (old & 0x0F) : (old & 0xF0) | digit);
    }
    m_pData[b] = value;
    UpdateByte(value, v);
    SetCaret(s);
    MoveCaretRight(s);
}

int HexPane::SnapClick(int s) const
{
    const int first = FirstLine();
    if (first + s / HEX_ROW_CHARS > m_nLength / HEX_BYTES_PER_LINE && s >= HEX_ROW_CHARS)
        s -= HEX_ROW_CHARS;
    const int row = s / HEX_ROW_CHARS;
    int col = s % HEX_ROW_CHARS;
    const ColumnZone clicked = ClassifyColumn(col);
    switch (clicked) {
    case ColumnZone::None:
    case ColumnZone::Offset:
    case ColumnZone::Gap:
        if (col < HEX_COL_GROUP1)
            col = HEX_COL_GROUP1;
        else if (col == 33)
            col = 31;
        else if (col == 34)
            col = HEX_COL_GROUP2;
        else if (col == 58)
            col = 56;
        else if (col >= HEX_COL_BAR)
            col = HEX_COL_TEXT;
        break;
    case ColumnZone::HexGroup1:
        if ((col - 9) % 3 == 0)
            --col;
        break;
    case ColumnZone::HexGroup2:
        if ((col - 34) % 3 == 0)
            --col;
        break;
    case ColumnZone::Text:
        break;
    }
    s = row * HEX_ROW_CHARS + col;
    const long long lineStart = static_cast<long long>(first + row) * HEX_BYTES_PER_LINE;
    if (lineStart + ColumnToByte(col) >= m_nLength) {
        const int last = static_cast<int>(m_nLength - lineStart - 1);
        if ((IsHexZone(clicked) || clicked == ColumnZone::Text) && last >= 0)
            s = row * HEX_ROW_CHARS + ByteToColumn(clicked, last);
        else
            s = row * HEX_ROW_CHARS + HEX_COL_GROUP1;
    }
    if (first + s / HEX_ROW_CHARS > (m_nLength - 1) / HEX_BYTES_PER_LINE && s >= HEX_ROW_CHARS)
        s -= HEX_ROW_CHARS;
    return s;
}

void HexPane::OnLButtonUp(int pos)
{
    const int rows = m_text.Rows();
    if (rows == 0) {
        SetCaret(0);
        return;
    }
    // A click lands on a rendered row; past the end means the last one.
    pos = std::clamp(pos, 0, m_text.Length());
    if (pos / HEX_ROW_CHARS >= rows)
        pos = (rows - 1) * HEX_ROW_CHARS + HEX_COL_TEXT_STOP;
    SetCaret(SnapClick(pos));
}

void HexPane::NormalizeCaret()
{
    const int s = GetCaret();
    if (m_text.Rows() == 0 || m_nLength == 0) {
        SetCaret(0);
        return;
    }
    if (IsCaretStop(s))
        return;
    if (s >= m_text.Length()) {
        // After a render: onto the last byte of the last fully visible row.
        // The row below the page, shown in part, ends with the stop of a line
        // that is not rendered at all.
        const int first = FirstLine();
        const int rows = std::min(m_text.Rows(), std::max(m_nLinesPerPage, 1));
        const long long lastShown = static_cast<long long>(first + rows) * HEX_BYTES_PER_LINE - 1;
        const int b = static_cast<int>(std::min<long long>(m_nLength - 1, lastShown));
        SetCaret((b / HEX_BYTES_PER_LINE - first) * HEX_ROW_CHARS + HEX_COL_TEXT + b % HEX_BYTES_PER_LINE);
        return;
    }
    int pos = s;
    if (pos % HEX_ROW_CHARS > HEX_COL_TEXT_STOP)
        pos = pos / HEX_ROW_CHARS * HEX_ROW_CHARS + HEX_COL_TEXT_STOP;
    OnLButtonUp(pos);
}
