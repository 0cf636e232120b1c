#pragma once

// The text a pane shows: exactly the rendered rows, 78 positions each (the
// line break counts two), and the caret as a position in it. The storage
// grows only when a page gets taller, never per line or per render.
#include <string_view>
#include <vector>

class TextSurface
{
public:
    // Empties the text, keeping room for `rows` rows; the caret goes to 0.
    void Clear(int rows);
    // Room for one more row at the end; CommitRow(n) keeps n of its characters.
    char* RowSpace() { return m_buf.data() + m_nLength; }
    void CommitRow(int n) { m_nLength += n; }

    // Overwrites characters in place; positions outside the text are skipped.
    void Overwrite(int pos, const char* s, int n);

    int Length() const { return m_nLength; }
    int Rows() const;
    std::string_view Text() const { return {m_buf.data(), static_cast<std::size_t>(m_nLength)}; }
    // Row r as the control would copy it: up to 78 characters, line break included.
    std::string_view Row(int r) const;

    int Caret() const { return m_nCaret; }
    // Places an empty selection; positions are kept within 0..Length().
    void SetCaret(int pos);

private:
    std::vector<char> m_buf;
    int m_nLength = 0;
    int m_nCaret = 0;
};
