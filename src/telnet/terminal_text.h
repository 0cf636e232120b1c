#pragma once

// TerminalText: what the Telnet terminal shows, as lines wrapped at a width
// in character cells. Bytes come in as UTF-8; a byte that is not part of a
// valid sequence stands for itself, as in Latin-1, and a sequence split
// between two appends is joined. CR LF, a lone CR and a lone LF each end a
// line, also when the LF comes with the next append. Text only grows at the
// end and shrinks at either end, so the caret always follows the newest text.
//
// Rows are kept counted as the text changes: appending, erasing the last
// character and trimming the head cost what they touch, not the whole text.
#include <QString>
#include <QStringView>

#include <cstdint>
#include <vector>

class TerminalText
{
public:
    static constexpr int TAB_STOP = 8;

    TerminalText();

    void Clear();
    // Wrap width in cells (at least 1); rows are counted anew.
    void SetColumns(int columns);
    int Columns() const { return m_nColumns; }

    void Append(const char* bytes, int length);
    // Removes the character before the caret; a line break joins two lines.
    void EraseLast();
    // Steps back one cell, as a terminal's Backspace does: a wide character
    // goes with its second step, combining marks with their character. The
    // next character written over half a wide character blanks it.
    void BackCell();
    // Removes the first `count` characters (all, if there are fewer).
    void TrimHead(int count);

    // The lines, '\n' between them.
    QStringView Text() const { return m_text; }
    int Length() const { return static_cast<int>(m_text.size()); }
    int Rows() const { return m_nRows; }
    int Lines() const { return static_cast<int>(m_lines.size() - m_nFirst); }
    // The caret's cell on the last row.
    int CaretColumn() const { return m_nCol; }
    // The caret stands on the second cell of the last, wide character.
    bool CaretInsideWide() const { return m_bInsideWide; }

    struct Span
    {
        int start;  // in Text()
        int length; // the line break not included
    };
    // The spans of rows first .. first + count - 1 that exist; returns how many.
    int RowSpans(int first, int count, Span* out) const;

    // Cells a character takes outside a tab: 2 for East Asian wide and
    // fullwidth ones, 0 for combining marks, else 1.
    static int CellWidth(char32_t c);
    // Cells a tab takes at `column` of a row `columns` wide.
    static int TabWidth(int column, int columns);

private:
    struct Line
    {
        std::int64_t start; // offset from the first character ever shown
        int rows;
        bool simple; // one cell per character, no tabs: rows follow from the length
    };

    void Put(char32_t c);
    void PutAscii(const char* text, int length);
    void Break();
    void Wrap();
    void FlushCarry();
    void FlushPending();
    // Removes the last n characters of the last line.
    void ChopLast(int n);
    // Where the last line's last cell (a character and its marks) starts.
    int LastCellStart() const;
    int LineLength(std::size_t i) const;
    int LineIndex(std::size_t i) const { return static_cast<int>(m_lines[i].start - m_nBase); }
    // Lays out line i again; for the last line also its row starts and caret column.
    void Relayout(std::size_t i);
    int Layout(int start, int length, int* column, std::vector<int>* rowStarts, bool* simple) const;

    QString m_text;
    std::int64_t m_nBase = 0; // characters trimmed from the head so far
    std::vector<Line> m_lines;
    std::size_t m_nFirst = 0; // lines before it are trimmed
    int m_nRows = 1;
    int m_nColumns = 80;

    // The last line: where its rows start, its length and the caret's cell.
    std::vector<int> m_lastRowStarts;
    int m_nLastLength = 0;
    int m_nCol = 0;

    // Decoding between appends.
    std::uint8_t m_carry[4] = {};
    int m_nCarry = 0;
    int m_nNeed = 0;
    char32_t m_nCode = 0;
    bool m_bAfterCr = false;
    bool m_bInsideWide = false;

    // Characters decoded but not yet added to m_text.
    char16_t m_pending[512] = {};
    int m_nPending = 0;

    mutable std::vector<int> m_scratchStarts;
};
