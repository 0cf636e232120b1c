#include "telnet/terminal_text.h"

#include "telnet/east_asian_wide.h"

#include <QChar>

#include <algorithm>

namespace {

bool IsPrintableAscii(std::uint8_t b)
{
    return b >= 0x20 && b < 0x7F;
}

bool IsContinuation(std::uint8_t b)
{
    return (b & 0xC0) == 0x80;
}

// The second byte of a sequence also rules out overlong forms, surrogates
// and values beyond Unicode.
bool SecondByteFits(std::uint8_t lead, std::uint8_t b)
{
    switch (lead) {
    case 0xE0:
        return b >= 0xA0 && b <= 0xBF;
    case 0xED:
        return b >= 0x80 && b <= 0x9F;
    case 0xF0:
        return b >= 0x90 && b <= 0xBF;
    case 0xF4:
        return b >= 0x80 && b <= 0x8F;
    default:
        return IsContinuation(b);
    }
}

} // namespace

TerminalText::TerminalText()
{
    Clear();
}

void TerminalText::Clear()
{
    m_text.resize(0);
    m_nBase = 0;
    m_lines.assign(1, Line{0, 1, true});
    m_nFirst = 0;
    m_nRows = 1;
    m_lastRowStarts.assign(1, 0);
    m_nLastLength = 0;
    m_nCol = 0;
    m_nCarry = 0;
    m_nNeed = 0;
    m_bAfterCr = false;
    m_bInsideWide = false;
    m_nPending = 0;
}

int TerminalText::CellWidth(char32_t c)
{
    // Below the first combining mark everything takes one cell.
    if (c < 0x300)
        return 1;
    const QChar::Category category = QChar::category(c);
    if (category == QChar::Mark_NonSpacing || category == QChar::Mark_Enclosing)
        return 0;
    const auto* end = std::end(east_asian_wide::kRanges);
    const auto* range =
        std::lower_bound(std::begin(east_asian_wide::kRanges), end, c,
                         [](const east_asian_wide::Range& r, char32_t v) { return r.last < v; });
    return range != end && range->first <= c ? 2 : 1;
}

int TerminalText::TabWidth(int column, int columns)
{
    return std::max(1, std::min(TAB_STOP - column % TAB_STOP, columns - column));
}

void TerminalText::SetColumns(int columns)
{
    columns = std::max(columns, 1);
    if (columns == m_nColumns)
        return;
    m_nColumns = columns;
    for (std::size_t i = m_nFirst; i < m_lines.size(); ++i)
        Relayout(i);
    if (m_bInsideWide)
        --m_nCol;
}

void TerminalText::Append(const char* bytes, int length)
{
    if (m_bInsideWide && length > 0) {
        // A line break leaves the character as it is; anything written over
        // its second cell blanks the whole of it.
        m_bInsideWide = false;
        if (bytes[0] != '\r' && bytes[0] != '\n') {
            ChopLast(Length() - LastCellStart());
            Put(U' ');
        }
    }
    for (int i = 0; i < length; ++i) {
        const auto b = static_cast<std::uint8_t>(bytes[i]);
        if (m_nNeed == 0 && IsPrintableAscii(b)) {
            // Most text is a run of printable ASCII: taken whole.
            int end = i + 1;
            while (end < length && IsPrintableAscii(static_cast<std::uint8_t>(bytes[end])))
                ++end;
            PutAscii(bytes + i, end - i);
            i = end - 1;
            continue;
        }
        if (m_nNeed > 0) {
            const bool fits = m_nCarry == 1 ? SecondByteFits(m_carry[0], b) : IsContinuation(b);
            if (fits) {
                m_carry[m_nCarry++] = b;
                m_nCode = (m_nCode << 6) | (b & 0x3F);
                if (--m_nNeed == 0) {
                    m_nCarry = 0;
                    Put(m_nCode);
                }
                continue;
            }
            FlushCarry();
        }
        if (b < 0x80) {
            Put(b);
        } else if (b >= 0xC2 && b <= 0xF4) {
            m_carry[0] = b;
            m_nCarry = 1;
            m_nNeed = b < 0xE0 ? 1 : b < 0xF0 ? 2 : 3;
            m_nCode = b & (b < 0xE0 ? 0x1F : b < 0xF0 ? 0x0F : 0x07);
        } else {
            Put(b); // not UTF-8: the byte as itself
        }
    }
    FlushPending();
}

void TerminalText::FlushCarry()
{
    // An unfinished sequence shows its bytes as they are.
    const int n = m_nCarry;
    m_nCarry = 0;
    m_nNeed = 0;
    for (int i = 0; i < n; ++i)
        Put(m_carry[i]);
}

void TerminalText::FlushPending()
{
    if (m_nPending > 0)
        m_text.append(reinterpret_cast<const QChar*>(m_pending), m_nPending);
    m_nPending = 0;
}

void TerminalText::Put(char32_t c)
{
    if (c == '\r') {
        Break();
        m_bAfterCr = true;
        return;
    }
    if (c == '\n') {
        if (!m_bAfterCr)
            Break();
        m_bAfterCr = false;
        return;
    }
    m_bAfterCr = false;

    if (m_nPending + 2 > static_cast<int>(std::size(m_pending)))
        FlushPending();
    Line& line = m_lines.back();
    int width;
    if (c == '\t') {
        if (m_nCol >= m_nColumns)
            Wrap();
        width = TabWidth(m_nCol, m_nColumns);
        line.simple = false;
    } else {
        width = CellWidth(c);
        if (width != 1 || c > 0xFFFF)
            line.simple = false;
        if (m_nCol + width > m_nColumns && m_nCol > 0)
            Wrap();
        width = std::min(width, m_nColumns);
    }
    m_nCol += width;
    if (c > 0xFFFF) {
        m_pending[m_nPending++] = QChar::highSurrogate(c);
        m_pending[m_nPending++] = QChar::lowSurrogate(c);
        m_nLastLength += 2;
    } else {
        m_pending[m_nPending++] = static_cast<char16_t>(c);
        ++m_nLastLength;
    }
}

void TerminalText::PutAscii(const char* text, int length)
{
    m_bAfterCr = false;
    FlushPending();
    m_text.append(QLatin1StringView(text, length));
    // One cell each: rows fill up to the width, then wrap.
    while (length > 0) {
        if (m_nCol >= m_nColumns)
            Wrap();
        const int take = std::min(length, m_nColumns - m_nCol);
        m_nCol += take;
        m_nLastLength += take;
        length -= take;
    }
}

void TerminalText::Wrap()
{
    m_lastRowStarts.push_back(m_nLastLength);
    ++m_lines.back().rows;
    ++m_nRows;
    m_nCol = 0;
}

void TerminalText::Break()
{
    if (m_nPending + 1 > static_cast<int>(std::size(m_pending)))
        FlushPending();
    m_pending[m_nPending++] = u'\n';
    const std::int64_t start = m_nBase + m_text.size() + m_nPending;
    m_lines.push_back(Line{start, 1, true});
    ++m_nRows;
    m_lastRowStarts.assign(1, 0);
    m_nLastLength = 0;
    m_nCol = 0;
}

int TerminalText::LineLength(std::size_t i) const
{
    if (i + 1 < m_lines.size())
        return static_cast<int>(m_lines[i + 1].start - 1 - m_lines[i].start);
    return Length() - LineIndex(i);
}

int TerminalText::Layout(int start, int length, int* column, std::vector<int>* rowStarts, bool* simple) const
{
    const int columns = m_nColumns;
    if (rowStarts)
        rowStarts->assign(1, 0);
    if (*simple) {
        const int rows = std::max(1, (length + columns - 1) / columns);
        if (rowStarts) {
            for (int r = 1; r < rows; ++r)
                rowStarts->push_back(r * columns);
        }
        *column = length - (rows - 1) * columns;
        return rows;
    }
    const QChar* p = m_text.constData() + start;
    int rows = 1;
    int col = 0;
    bool plain = true;
    for (int i = 0; i < length; ++i) {
        char32_t c = p[i].unicode();
        const int at = i;
        if (QChar::isHighSurrogate(c) && i + 1 < length && p[i + 1].isLowSurrogate()) {
            c = QChar::surrogateToUcs4(p[i].unicode(), p[i + 1].unicode());
            ++i;
        }
        int width;
        if (c == '\t') {
            plain = false;
            if (col >= columns) {
                ++rows;
                col = 0;
                if (rowStarts)
                    rowStarts->push_back(at);
            }
            width = TabWidth(col, columns);
        } else {
            width = CellWidth(c);
            if (width != 1 || c > 0xFFFF)
                plain = false;
            if (col + width > columns && col > 0) {
                ++rows;
                col = 0;
                if (rowStarts)
                    rowStarts->push_back(at);
            }
            width = std::min(width, columns);
        }
        col += width;
    }
    *simple = plain;
    *column = col;
    return rows;
}

void TerminalText::Relayout(std::size_t i)
{
    Line& line = m_lines[i];
    const bool last = i + 1 == m_lines.size();
    int column = 0;
    const int rows =
        Layout(LineIndex(i), LineLength(i), &column, last ? &m_lastRowStarts : nullptr, &line.simple);
    m_nRows += rows - line.rows;
    line.rows = rows;
    if (last) {
        m_nLastLength = LineLength(i);
        m_nCol = column;
    }
}

void TerminalText::EraseLast()
{
    // What follows is no longer part of an earlier sequence or CR LF.
    FlushCarry();
    FlushPending();
    m_bAfterCr = false;
    m_bInsideWide = false;
    if (m_text.isEmpty())
        return;
    if (m_text.back() == u'\n') {
        m_text.chop(1);
        m_nRows -= m_lines.back().rows;
        m_lines.pop_back();
        Relayout(m_lines.size() - 1);
        return;
    }
    const qsizetype size = m_text.size();
    ChopLast(size >= 2 && m_text[size - 1].isLowSurrogate() && m_text[size - 2].isHighSurrogate() ? 2 : 1);
}

void TerminalText::BackCell()
{
    FlushCarry();
    FlushPending();
    m_bAfterCr = false;
    if (m_bInsideWide) {
        m_bInsideWide = false;
        ChopLast(Length() - LastCellStart());
        return;
    }
    if (m_text.isEmpty() || m_text.back() == u'\n') {
        EraseLast();
        return;
    }
    const int start = LastCellStart();
    char32_t c = m_text[start].unicode();
    if (m_text[start].isHighSurrogate() && start + 1 < Length())
        c = QChar::surrogateToUcs4(m_text[start], m_text[start + 1]);
    if (CellWidth(c) == 2 && m_nColumns >= 2) {
        // The caret moves into the character; the next step takes it.
        m_bInsideWide = true;
        --m_nCol;
        return;
    }
    ChopLast(Length() - start);
}

int TerminalText::LastCellStart() const
{
    const int lineStart = LineIndex(m_lines.size() - 1);
    int i = Length();
    while (i > lineStart) {
        int at = i - 1;
        char32_t c = m_text[at].unicode();
        if (m_text[at].isLowSurrogate() && at > lineStart && m_text[at - 1].isHighSurrogate()) {
            --at;
            c = QChar::surrogateToUcs4(m_text[at], m_text[at + 1]);
        }
        i = at;
        if (c == U'\t' || CellWidth(c) != 0)
            break;
    }
    return i;
}

void TerminalText::ChopLast(int n)
{
    if (n <= 0)
        return;
    m_text.chop(n);
    m_nLastLength -= n;
    Line& line = m_lines.back();
    while (line.rows > 1 && m_lastRowStarts.back() >= m_nLastLength) {
        m_lastRowStarts.pop_back();
        --line.rows;
        --m_nRows;
    }
    // Only the last row changed; its caret cell is counted again.
    const int rowStart = m_lastRowStarts.back();
    bool simple = false;
    // A row never wraps inside, so laying it out alone gives its cells.
    Layout(LineIndex(m_lines.size() - 1) + rowStart, m_nLastLength - rowStart, &m_nCol, nullptr, &simple);
}

void TerminalText::TrimHead(int count)
{
    FlushPending();
    const int size = Length();
    int n = std::min(count, size);
    if (n <= 0)
        return;
    if (n == size)
        m_bInsideWide = false;
    if (n < size && m_text[n].isLowSurrogate() && m_text[n - 1].isHighSurrogate())
        ++n;
    const std::int64_t cut = m_nBase + n;
    // A line ends where the next one starts, its break included.
    while (m_nFirst + 1 < m_lines.size() && m_lines[m_nFirst + 1].start <= cut) {
        m_nRows -= m_lines[m_nFirst].rows;
        ++m_nFirst;
    }
    const bool partial = m_lines[m_nFirst].start < cut;
    m_lines[m_nFirst].start = std::max(m_lines[m_nFirst].start, cut);
    m_text.remove(0, n);
    m_nBase = cut;
    if (partial)
        Relayout(m_nFirst);
    if (m_nFirst >= 256 && m_nFirst * 2 >= m_lines.size()) {
        m_lines.erase(m_lines.begin(), m_lines.begin() + static_cast<std::ptrdiff_t>(m_nFirst));
        m_nFirst = 0;
    }
}

int TerminalText::RowSpans(int first, int count, Span* out) const
{
    if (first < 0 || count <= 0 || first >= m_nRows)
        return 0;
    // Find the line holding row `first`, from whichever end is nearer.
    std::size_t i;
    int row;
    if (first >= m_nRows / 2) {
        i = m_lines.size() - 1;
        row = m_nRows - m_lines[i].rows;
        while (row > first && i > m_nFirst) {
            --i;
            row -= m_lines[i].rows;
        }
    } else {
        i = m_nFirst;
        row = 0;
        while (i + 1 < m_lines.size() && row + m_lines[i].rows <= first) {
            row += m_lines[i].rows;
            ++i;
        }
    }
    int filled = 0;
    for (; i < m_lines.size() && filled < count; ++i) {
        const int start = LineIndex(i);
        const int length = LineLength(i);
        const std::vector<int>* starts = &m_lastRowStarts;
        if (i + 1 < m_lines.size()) {
            bool simple = m_lines[i].simple;
            int column = 0;
            Layout(start, length, &column, &m_scratchStarts, &simple);
            starts = &m_scratchStarts;
        }
        const int rows = static_cast<int>(starts->size());
        for (int r = std::max(first - row, 0); r < rows && filled < count; ++r) {
            const int from = (*starts)[static_cast<std::size_t>(r)];
            const int to = r + 1 < rows ? (*starts)[static_cast<std::size_t>(r) + 1] : length;
            out[filled++] = Span{start + from, to - from};
        }
        row += rows;
    }
    return filled;
}
