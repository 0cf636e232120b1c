#pragma once

// Panes for tests: a HexPane with a view of a given number of whole rows,
// filled with given bytes, and the position of a row and column.
#include "panes/hex_pane.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace korvo::test {

constexpr int kTestLineHeight = 10;

inline std::unique_ptr<HexPane> MakePane(const std::vector<std::uint8_t>& bytes, int linesPerPage = 10)
{
    auto pane = std::make_unique<HexPane>();
    pane->InitView(kTestLineHeight, linesPerPage * kTestLineHeight);
    pane->SetData(static_cast<int>(bytes.size()), bytes.data());
    return pane;
}

inline std::vector<std::uint8_t> Bytes(const std::string& s)
{
    return {s.begin(), s.end()};
}

// Bytes 0, 1, 2, ... wrapping at 256.
inline std::vector<std::uint8_t> Counting(int n)
{
    std::vector<std::uint8_t> v(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i)
        v[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i);
    return v;
}

constexpr int Pos(int row, int col)
{
    return row * 78 + col;
}

// What the pane should hold: FormatLine of every rendered line, in order.
inline std::string ExpectedText(const HexPane& pane)
{
    std::string text;
    const int first = pane.FirstLine();
    const int last = std::min(pane.m_nTotalLines - 1, pane.ScrollInfo().nPos + pane.m_nLinesPerPage);
    for (int i = first; i <= last; ++i)
        text += pane.FormatLine(i);
    return text;
}

inline std::string SurfaceText(const HexPane& pane)
{
    return std::string(pane.Surface().Text());
}

} // namespace korvo::test
