// Caret and editing rules of a pane: typing, cursor keys and the click snap.
#include "unit/hex_pane_helpers.h"

#include <gtest/gtest.h>

#include <vector>

using namespace korvo::test;

namespace {

const std::string kAlnum = "1234567890ABCDEFGHIJKLMNOPQRSTUVWXYZ";

struct ByteChange
{
    int index;
    int value;
};

struct TypingCase
{
    const char* name;
    std::vector<std::uint8_t> bytes;
    int linesPerPage;
    int click;
    std::vector<unsigned> chars;
    std::vector<ByteChange> changes;
    int caret;
    int topLine;
};

TEST(HexEditing, Typing)
{
    std::vector<std::uint8_t> x12(36, 0x12);
    const std::vector<TypingCase> cases = {
        {"A on the high nibble of 0x12", x12, 10, Pos(0, 10), {'A'}, {{0, 0xA2}}, Pos(0, 11), 0},
        {"then 5 on the low nibble", x12, 10, Pos(0, 10), {'A', '5'}, {{0, 0xA5}}, Pos(0, 13), 0},
        {"low nibble of byte 15 wraps", Counting(48), 10, Pos(0, 57), {'0'}, {{15, 0x00}}, Pos(1, 10), 0},
        {"and scrolls on the last page row",
         Counting(320),
         4,
         Pos(3, 57),
         {'f'},
         {{63, 0x3f}},
         Pos(3, 10),
         1},
        {"second group, upper case", Counting(36), 10, Pos(0, 38), {'B', 'C'}, {{9, 0xBC}}, Pos(0, 41), 0},
        {"G in hex is ignored", x12, 10, Pos(0, 10), {'G', 'g', ' ', 0x16}, {}, Pos(0, 10), 0},
        {"G in text is stored", x12, 10, Pos(0, 60), {'G'}, {{0, 0x47}}, Pos(0, 61), 0},
        {"control characters are stored",
         x12,
         10,
         Pos(0, 62),
         {0x16, 0x1B},
         {{2, 0x16}, {3, 0x1B}},
         Pos(0, 64),
         0},
        {"0x80 and above are ignored", x12, 10, Pos(0, 60), {0x80, 0xE9, 0xAC00}, {}, Pos(0, 60), 0},
        {"the text stop types into the next line",
         Counting(32),
         10,
         Pos(0, 76),
         {'z'},
         {{16, 'z'}},
         Pos(1, 61),
         0},
        {"the last byte's low nibble keeps the caret",
         Bytes(kAlnum),
         10,
         Pos(2, 20),
         {'1'},
         {{35, 0x51}},
         Pos(2, 20),
         0},
        {"the last character keeps the caret",
         Bytes(kAlnum),
         10,
         Pos(2, 63),
         {'a', 'b'},
         {{35, 'b'}},
         Pos(2, 63),
         0},
        {"backspace moves left and deletes nothing", x12, 10, Pos(0, 13), {8}, {}, Pos(0, 11), 0},
        {"enter does nothing", x12, 10, Pos(0, 13), {13}, {}, Pos(0, 13), 0},
        {"tab from a character to its high nibble", x12, 10, Pos(0, 63), {9}, {}, Pos(0, 19), 0},
        {"tab from a low nibble to its character", x12, 10, Pos(0, 20), {9}, {}, Pos(0, 63), 0},
        {"tab on the text stop stays", x12, 10, Pos(0, 76), {9}, {}, Pos(0, 76), 0},
        {"an empty pane ignores typing", {}, 10, Pos(0, 10), {'1', 'a', 9, 8}, {}, 0, 0},
    };
    for (const TypingCase& c : cases) {
        auto pane = MakePane(c.bytes, c.linesPerPage);
        pane->OnLButtonUp(c.click);
        for (unsigned ch : c.chars)
            pane->OnChar(ch);
        std::vector<std::uint8_t> expected = c.bytes;
        for (const ByteChange& change : c.changes)
            expected[static_cast<std::size_t>(change.index)] = static_cast<std::uint8_t>(change.value);
        EXPECT_EQ(expected, std::vector<std::uint8_t>(pane->m_pData, pane->m_pData + pane->m_nLength))
            << c.name;
        EXPECT_EQ(c.caret, pane->GetCaret()) << c.name;
        EXPECT_EQ(c.topLine, pane->m_nTopLine) << c.name;
        EXPECT_EQ(ExpectedText(*pane), SurfaceText(*pane)) << c.name;
    }
}

TEST(HexEditing, ReceivePaneShortAppendTypesIntoLineZero)
{
    auto pane = MakePane({}, 10);
    const auto bytes = Counting(40);
    pane->AppendData(40, bytes.data());
    ASSERT_LT(pane->m_nTopLine, 0);
    pane->OnLButtonUp(Pos(0, 10));
    pane->OnChar('7');
    EXPECT_EQ(0x70, pane->m_pData[0]);
    EXPECT_EQ("70", std::string(pane->Surface().Row(0).substr(10, 2)));
}

TEST(HexEditing, ACaretLeftAfterTheTextTypesNothing)
{
    // After a render the caret stands after the text, on no byte; the first
    // key brings it onto the last byte instead of changing anything.
    auto pane = MakePane(Bytes(kAlnum));
    ASSERT_EQ(pane->Surface().Length(), pane->GetCaret());
    pane->OnChar('5');
    EXPECT_EQ(Bytes(kAlnum), std::vector<std::uint8_t>(pane->m_pData, pane->m_pData + 36));
    EXPECT_EQ(Pos(2, 63), pane->GetCaret());
}

struct KeyCase
{
    const char* name;
    int length;
    int linesPerPage;
    int scrollTo; // thumb position before the click
    int click;
    std::vector<PaneKey> keys;
    int caret;
    int topLine;
};

TEST(HexEditing, CursorKeys)
{
    using K = PaneKey;
    const std::vector<KeyCase> cases = {
        {"down where no byte is below", 20, 10, 0, Pos(0, 22), {K::Down}, Pos(0, 22), 0},
        {"down onto byte 19", 20, 10, 0, Pos(0, 19), {K::Down}, Pos(1, 19), 0},
        {"right on the last low nibble", 36, 10, 0, Pos(2, 20), {K::Right}, Pos(2, 20), 0},
        {"right on the last character", 36, 10, 0, Pos(2, 63), {K::Right}, Pos(2, 63), 0},
        {"right across the gap", 36, 10, 0, Pos(0, 32), {K::Right}, Pos(0, 35), 0},
        {"left across the gap", 36, 10, 0, Pos(0, 35), {K::Left}, Pos(0, 32), 0},
        {"left from a high nibble", 36, 10, 0, Pos(0, 13), {K::Left}, Pos(0, 11), 0},
        {"left to the previous line, hex", 36, 10, 0, Pos(1, 10), {K::Left}, Pos(0, 57), 0},
        {"left to the previous line, text", 36, 10, 0, Pos(1, 60), {K::Left}, Pos(0, 75), 0},
        {"left on the first stop of line 0", 36, 10, 0, Pos(0, 10), {K::Left}, Pos(0, 10), 0},
        {"right onto the text stop", 36, 10, 0, Pos(0, 75), {K::Right}, Pos(0, 76), 0},
        {"right from the text stop", 36, 10, 0, Pos(0, 76), {K::Right}, Pos(1, 61), 0},
        {"right from the text stop onto a one-byte line", 33, 10, 0, Pos(1, 76), {K::Right}, Pos(2, 60), 0},
        {"right to the next line", 36, 10, 0, Pos(0, 57), {K::Right}, Pos(1, 10), 0},
        {"right on the last page row scrolls", 320, 4, 0, Pos(3, 57), {K::Right}, Pos(3, 10), 1},
        {"right on the last page row, text side", 320, 4, 0, Pos(3, 76), {K::Right}, Pos(3, 61), 1},
        {"up", 36, 10, 0, Pos(1, 13), {K::Up}, Pos(0, 13), 0},
        {"up on row 0 at the top", 36, 10, 0, Pos(0, 13), {K::Up}, Pos(0, 13), 0},
        {"up on row 0 scrolls", 1600, 4, 5, Pos(0, 13), {K::Up}, Pos(0, 13), 4},
        {"left on row 0 scrolls", 1600, 4, 5, Pos(0, 10), {K::Left}, Pos(0, 10), 4},
        {"down on the last page row scrolls", 1600, 4, 0, Pos(3, 13), {K::Down}, Pos(3, 13), 1},
        // Row 4 is shown in part, below the page. Mended: with no byte below,
        // Down used to scroll and drag the caret onto the last byte.
        {"down on the partly shown row, nothing below", 80, 4, 0, Pos(4, 13), {K::Down}, Pos(4, 13), 0},
        {"down on the partly shown row scrolls", 96, 4, 0, Pos(4, 13), {K::Down}, Pos(4, 13), 1},
        {"page down", 1600, 4, 0, Pos(1, 13), {K::PageDown}, Pos(1, 13), 4},
        {"page up", 1600, 4, 9, Pos(1, 13), {K::PageUp}, Pos(1, 13), 5},
        {"page down in a page that fits", 36, 10, 0, Pos(1, 13), {K::PageDown}, Pos(1, 13), 0},
        // 120 bytes, 4 rows: line 7 holds bytes 112-119 only.
        {"down past the data lands on the last byte", 120, 4, 3, Pos(3, 35), {K::Down}, Pos(3, 31), 4},
        {"text side lands on the last character", 120, 4, 3, Pos(3, 72), {K::Down}, Pos(3, 67), 4},
    };
    for (const KeyCase& c : cases) {
        auto pane = MakePane(Counting(c.length), c.linesPerPage);
        if (c.scrollTo)
            pane->OnVScroll(SB_THUMBTRACK, c.scrollTo);
        pane->OnLButtonUp(c.click);
        ASSERT_EQ(c.click, pane->GetCaret()) << c.name;
        for (PaneKey key : c.keys)
            pane->OnKeyDown(key);
        EXPECT_EQ(c.caret, pane->GetCaret()) << c.name;
        EXPECT_EQ(c.topLine, pane->m_nTopLine) << c.name;
        EXPECT_EQ(Counting(c.length), std::vector<std::uint8_t>(pane->m_pData, pane->m_pData + c.length))
            << c.name;
    }
}

TEST(HexEditing, ClickSnap)
{
    struct Case
    {
        const char* name;
        int click;
        int caret;
    } cases[] = {
        {"offset column", Pos(0, 3), Pos(0, 10)},
        {"bar after the offset", Pos(1, 8), Pos(1, 10)},
        {"space after a byte, first group", Pos(0, 12), Pos(0, 11)},
        {"space after a byte, second group", Pos(0, 37), Pos(0, 36)},
        {"space after byte 7", Pos(0, 33), Pos(0, 31)},
        {"group separator", Pos(0, 34), Pos(0, 35)},
        {"space after byte 15", Pos(0, 58), Pos(0, 56)},
        {"bar before the text", Pos(1, 59), Pos(1, 60)},
        {"a digit stays", Pos(1, 47), Pos(1, 47)},
        {"a character stays", Pos(1, 70), Pos(1, 70)},
        {"text stop with a next line", Pos(1, 76), Pos(1, 76)},
        {"empty hex of the last line", Pos(2, 45), Pos(2, 19)},
        {"empty text of the last line", Pos(2, 70), Pos(2, 63)},
        {"text stop of the last line", Pos(2, 76), Pos(2, 63)},
        {"after the end of the text", Pos(2, 77), Pos(2, 60)},
        {"space after byte 15 of the last line", Pos(2, 58), Pos(2, 10)},
    };
    for (const Case& c : cases) {
        auto pane = MakePane(Bytes(kAlnum));
        pane->OnLButtonUp(c.click);
        EXPECT_EQ(c.caret, pane->GetCaret()) << c.name;
        EXPECT_TRUE(pane->IsCaretStop(pane->GetCaret())) << c.name;
    }
    auto empty = MakePane({});
    empty->OnLButtonUp(Pos(0, 40));
    EXPECT_EQ(0, empty->GetCaret());
}

} // namespace
