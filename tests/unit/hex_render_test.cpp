// The dump as the panes show it: line format, buffer rules and scrolling.
#include "panes/line_format.h"
#include "unit/hex_pane_helpers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

using namespace korvo::test;

namespace {

const std::string kAlnum = "1234567890ABCDEFGHIJKLMNOPQRSTUVWXYZ";

TEST(HexRender, SendPaneStartRendersThreeRows)
{
    auto pane = MakePane(Bytes(kAlnum));
    const std::string expected =
        "00000000| 31 32 33 34 35 36 37 38  39 30 41 42 43 44 45 46 |1234567890ABCDEF\r\n"
        "00000010| 47 48 49 4a 4b 4c 4d 4e  4f 50 51 52 53 54 55 56 |GHIJKLMNOPQRSTUV\r\n"
        "00000020| 57 58 59 5a " +
        std::string(12, ' ') + " " + std::string(24, ' ') + "|WXYZ" + std::string(12, ' ') + " ";
    EXPECT_EQ(expected, SurfaceText(*pane));
    EXPECT_EQ(78 + 78 + 77, pane->Surface().Length());
    EXPECT_EQ(3, pane->m_nTotalLines);
    // The replacement leaves the caret after the text.
    EXPECT_EQ(pane->Surface().Length(), pane->GetCaret());
}

struct LineCase
{
    const char* name;
    std::vector<std::uint8_t> bytes;
    int line;
    std::string expected;
};

std::string Row(const std::string& offset, const std::string& hex1, const std::string& hex2,
                const std::string& text, const char* end)
{
    auto pad = [](std::string s, std::size_t n) {
        s.resize(n, ' ');
        return s;
    };
    return offset + "| " + pad(hex1, 24) + " " + pad(hex2, 24) + "|" + pad(text, 16) + end;
}

TEST(HexRender, LineFormatCases)
{
    std::vector<std::uint8_t> big(0x1B0, 0x4A);
    std::vector<std::uint8_t> classes = {0x1F, 0x20, 0x7E, 0x7F, 0x80, 0x00, 0xFF, 0x41, 0x9A,
                                         0xBC, 0xDE, 0xF0, 0x12, 0x34, 0x56, 0x78, 0x01};
    std::vector<std::uint8_t> longer(0x9C1, 0x4A);
    std::copy(classes.begin(), classes.end() - 1, longer.begin() + 0x9B0);
    const std::vector<LineCase> cases = {
        {"16 bytes: one row ending in a space", Counting(16), 0,
         Row("00000000", "00 01 02 03 04 05 06 07 ", "08 09 0a 0b 0c 0d 0e 0f ", "................", " ")},
        {"17 bytes: a full row with a line break", Counting(17), 0,
         Row("00000000", "00 01 02 03 04 05 06 07 ", "08 09 0a 0b 0c 0d 0e 0f ", "................", "\r\n")},
        {"17 bytes: then one byte alone", Counting(17), 1, Row("00000010", "10 ", "", ".", " ")},
        {"8 bytes fill the first group", Bytes("ABCDEFGH"), 0,
         Row("00000000", "41 42 43 44 45 46 47 48 ", "", "ABCDEFGH", " ")},
        {"9 bytes put one in the second group", Bytes("ABCDEFGHI"), 0,
         Row("00000000", "41 42 43 44 45 46 47 48 ", "49 ", "ABCDEFGHI", " ")},
        {"byte classes",
         {0x1F, 0x20, 0x7E, 0x7F, 0x80, 0x00, 0xFF},
         0,
         Row("00000000", "1f 20 7e 7f 80 00 ff ", "", std::string(".") + " ~\x7f...", " ")},
        {"byte classes on a row with more after it", classes, 0,
         Row("00000000", "1f 20 7e 7f 80 00 ff 41 ", "9a bc de f0 12 34 56 78 ",
             std::string(".") + " ~\x7f...A.....4Vx", "\r\n")},
        {"upper-case offsets on a row with more after it", longer, 0x9B,
         Row("000009B0", "1f 20 7e 7f 80 00 ff 41 ", "9a bc de f0 12 34 56 78 ",
             std::string(".") + " ~\x7f...A.....4Vx", "\r\n")},
        {"upper-case offsets, lower-case bytes", big, 0x1A,
         Row("000001A0", "4a 4a 4a 4a 4a 4a 4a 4a ", "4a 4a 4a 4a 4a 4a 4a 4a ", "JJJJJJJJJJJJJJJJ", " ")},
        {"past the data", Counting(16), 1, ""},
        {"empty buffer", {}, 0, ""},
    };
    for (const LineCase& c : cases) {
        auto pane = MakePane(c.bytes);
        EXPECT_EQ(c.expected, pane->FormatLine(c.line)) << c.name;
    }
}

TEST(HexRender, EmptyBufferShowsNothingAndDisablesTheBar)
{
    auto pane = MakePane({});
    EXPECT_EQ(0, pane->Surface().Length());
    EXPECT_EQ(0, pane->m_nTotalLines);
    EXPECT_FALSE(pane->ScrollInfo().bEnabled);
}

TEST(HexRender, AppendBeyondCapacityDropsTheOldestBytes)
{
    struct Case
    {
        int before;
        int appended;
        int firstKept; // old offset now at offset 0
    } cases[] = {{1048000, 4096, 3520}, {PANE_CAPACITY, 16, 16}, {PANE_CAPACITY, PANE_CAPACITY, -1}};
    for (const Case& c : cases) {
        std::vector<std::uint8_t> stream(static_cast<std::size_t>(c.before + c.appended));
        for (std::size_t i = 0; i < stream.size(); ++i)
            stream[i] = static_cast<std::uint8_t>(i * 7 + i / 251);
        auto pane = MakePane({});
        pane->AppendData(c.before, stream.data());
        pane->AppendData(c.appended, stream.data() + c.before);
        ASSERT_EQ(PANE_CAPACITY, pane->m_nLength);
        const std::size_t first = stream.size() - PANE_CAPACITY;
        if (c.firstKept >= 0) {
            EXPECT_EQ(static_cast<std::size_t>(c.firstKept), first);
        }
        EXPECT_EQ(0, std::memcmp(pane->m_pData, stream.data() + first, PANE_CAPACITY)) << c.before;
        const std::string line0 = pane->FormatLine(0);
        EXPECT_EQ("00000000| ", line0.substr(0, 10));
        EXPECT_EQ(std::string(HexDigits(stream[first]), 2), line0.substr(10, 2));
        // The newest line is the last rendered row.
        EXPECT_EQ(ExpectedText(*pane), SurfaceText(*pane));
        EXPECT_EQ(pane->FormatLine(pane->m_nTotalLines - 1),
                  std::string(pane->Surface().Row(pane->Surface().Rows() - 1)));
    }
}

TEST(HexRender, SetDataLengthShrinksWithZerosAndCaps)
{
    auto pane = MakePane(Bytes(kAlnum));
    EXPECT_EQ(20, pane->SetDataLength(20));
    EXPECT_EQ(0, pane->m_pData[20]);
    EXPECT_EQ('J', pane->m_pData[19]);
    EXPECT_EQ(36, pane->SetDataLength(36));
    EXPECT_EQ(
        Row("00000010", "47 48 49 4a 00 00 00 00 ", "00 00 00 00 00 00 00 00 ", "GHIJ............", "\r\n"),
        pane->FormatLine(1));
    EXPECT_EQ(PANE_CAPACITY, pane->SetDataLength(2000000));
    EXPECT_EQ(PANE_CAPACITY, pane->m_nLength);
    EXPECT_EQ(65536, pane->m_nTotalLines);
    // Only the page is rendered, never the whole buffer.
    EXPECT_EQ(11, pane->Surface().Rows());
    EXPECT_EQ(0, pane->SetDataLength(-5));
}

TEST(HexRender, AppendShorterThanAPageStartsAtLineZero)
{
    auto pane = MakePane({}, 10);
    const auto bytes = Counting(40);
    pane->AppendData(40, bytes.data());
    EXPECT_EQ(3 - 10 - 1, pane->m_nTopLine);
    EXPECT_EQ(0, pane->FirstLine());
    EXPECT_EQ(3, pane->Surface().Rows());
    EXPECT_EQ(pane->FormatLine(0), std::string(pane->Surface().Row(0)));
}

TEST(HexRender, ScrollCodes)
{
    // 100 lines, 10 per page: the bar runs 0..90, line down stops at 90,
    // page down at 89.
    struct Case
    {
        int from;
        int code;
        int track;
        int topLine;
        int barPos;
    } cases[] = {
        {0, SB_LINEUP, 0, 0, 0},           {5, SB_LINEUP, 0, 4, 4},        {89, SB_LINEDOWN, 0, 90, 90},
        {90, SB_LINEDOWN, 0, 90, 90},      {5, SB_PAGEUP, 0, 0, 0},        {25, SB_PAGEUP, 0, 15, 15},
        {0, SB_PAGEDOWN, 0, 10, 10},       {85, SB_PAGEDOWN, 0, 89, 89},   {90, SB_PAGEDOWN, 0, 90, 90},
        {0, SB_THUMBPOSITION, 50, 50, 50}, {0, SB_THUMBTRACK, 95, 89, 89}, {40, SB_TOP, 0, 0, 0},
        {40, SB_BOTTOM, 0, 99, 90},        {40, SB_ENDSCROLL, 0, 40, 40},  {40, 42, 0, 40, 40},
    };
    for (const Case& c : cases) {
        auto pane = MakePane(Counting(1600), 10);
        // The thumb reaches 89 at most; line down goes one further.
        pane->OnVScroll(SB_THUMBTRACK, std::min(c.from, 89));
        if (c.from > 89)
            pane->OnVScroll(SB_LINEDOWN);
        ASSERT_EQ(c.from, pane->m_nTopLine);
        pane->OnVScroll(c.code, c.track);
        EXPECT_EQ(c.topLine, pane->m_nTopLine) << "code " << c.code << " from " << c.from;
        EXPECT_EQ(c.barPos, pane->ScrollInfo().nPos) << "code " << c.code << " from " << c.from;
        EXPECT_EQ(ExpectedText(*pane), SurfaceText(*pane)) << "code " << c.code;
    }
}

TEST(HexRender, BottomShowsTheLastLineAloneAtTheTop)
{
    auto pane = MakePane(Counting(1600), 10);
    pane->OnVScroll(SB_BOTTOM);
    EXPECT_EQ(1, pane->Surface().Rows());
    EXPECT_EQ(pane->FormatLine(99), SurfaceText(*pane));

    // Mended: from there, going up used to start from the bar (90), a page
    // above the line shown.
    const struct
    {
        int code, topLine, rows;
    } after[] = {{SB_LINEUP, 98, 2}, {SB_PAGEUP, 89, 11}, {SB_LINEDOWN, 99, 1}, {SB_PAGEDOWN, 99, 1}};
    for (const auto& c : after) {
        pane->OnVScroll(SB_BOTTOM);
        pane->OnVScroll(c.code);
        EXPECT_EQ(c.topLine, pane->m_nTopLine) << c.code;
        EXPECT_EQ(c.rows, pane->Surface().Rows()) << c.code;
        EXPECT_EQ(ExpectedText(*pane), SurfaceText(*pane)) << c.code;
    }
}

TEST(HexRender, APageThatFitsDoesNotScroll)
{
    auto pane = MakePane(Counting(5 * 16), 10);
    EXPECT_FALSE(pane->ScrollInfo().bEnabled);
    for (int code : {SB_LINEDOWN, SB_PAGEDOWN, SB_THUMBTRACK, SB_LINEUP, SB_PAGEUP}) {
        pane->OnVScroll(code, 3);
        EXPECT_EQ(0, pane->m_nTopLine) << code;
        EXPECT_EQ(5, pane->Surface().Rows()) << code;
    }
}

TEST(HexRender, ScrollPutsACaretPastTheDataOntoTheLastByte)
{
    // 105 bytes: lines 0-6, the last holding 9 bytes; 4 rows per page.
    struct Case
    {
        int caret;    // before the scroll, on row 3
        int expected; // after scrolling to the bottom (last line on row 0)
    } cases[] = {
        {Pos(3, 13), Pos(0, 35)}, // hex side: the last byte's high nibble
        {Pos(3, 64), Pos(0, 68)}, // text side: its character
        {Pos(1, 76), Pos(0, 68)}, // the text stop
    };
    for (const Case& c : cases) {
        auto pane = MakePane(Counting(105), 4);
        pane->OnLButtonUp(c.caret);
        pane->OnVScroll(SB_BOTTOM);
        EXPECT_EQ(c.expected, pane->GetCaret()) << c.caret;
    }
}

} // namespace
