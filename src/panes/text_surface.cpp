#include "panes/text_surface.h"

#include "panes/column_zone.h"

#include <algorithm>
#include <cstring>

void TextSurface::Clear(int rows)
{
    const std::size_t need = static_cast<std::size_t>(std::max(rows, 0)) * HEX_ROW_CHARS;
    if (m_buf.size() < need)
        m_buf.resize(need);
    m_nLength = 0;
    m_nCaret = 0;
}

void TextSurface::Overwrite(int pos, const char* s, int n)
{
    if (pos < 0 || n <= 0 || pos + n > m_nLength)
        return;
    std::memcpy(m_buf.data() + pos, s, static_cast<std::size_t>(n));
}

int TextSurface::Rows() const
{
    return (m_nLength + HEX_ROW_CHARS - 1) / HEX_ROW_CHARS;
}

std::string_view TextSurface::Row(int r) const
{
    if (r < 0 || r >= Rows())
        return {};
    const int start = r * HEX_ROW_CHARS;
    const int n = std::min(static_cast<int>(HEX_ROW_CHARS), m_nLength - start);
    return {m_buf.data() + start, static_cast<std::size_t>(n)};
}

void TextSurface::SetCaret(int pos)
{
    m_nCaret = std::clamp(pos, 0, m_nLength);
}
