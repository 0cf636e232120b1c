// Random keys, characters, clicks and scroll commands against a pane. After
// every step: typing never changes the length, bytes past the length stay
// zero, the caret rests on a stop of an existing byte (0 in an empty pane),
// and the text shown is exactly the formatted visible lines.
#include "support/fuzz_target.h"
#include "unit/hex_pane_helpers.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

class Reader
{
public:
    Reader(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}
    bool More() const { return m_pos < m_size; }
    unsigned Next() { return m_pos < m_size ? m_data[m_pos++] : 0; }

private:
    const uint8_t* m_data;
    size_t m_size;
    size_t m_pos = 0;
};

bool ZeroFrom(const HexPane& pane, int from, int to)
{
    to = std::min(to, static_cast<int>(PANE_CAPACITY));
    for (int i = from; i < to; ++i) {
        if (pane.m_pData[i] != 0)
            return false;
    }
    return true;
}

int Fail(const char* what, int step)
{
    std::fprintf(stderr, "fuzz_hex_edit: %s after step %d\n", what, step);
    return 1;
}

const unsigned kChars[] = {'0',  '7',  '9',  'a',    'F', 'f', 'G', 'z',  ' ', '~',
                           0x7F, 0x80, 0xFF, 0xAC00, 8,   9,   13,  0x16, 0};

} // namespace

static int FuzzHexEdit(const uint8_t* data, size_t size)
{
    Reader in(data, size);
    const int length = static_cast<int>(((in.Next() << 8) | in.Next()) % 2100);
    const int linesPerPage = 1 + static_cast<int>(in.Next() % 12);
    const bool received = in.Next() & 1;

    // The bytes themselves come from a seed, leaving the input for the steps.
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(length));
    std::uint32_t seed = in.Next() * 2654435761u + 1;
    for (auto& b : bytes) {
        seed = seed * 1664525u + 1013904223u;
        b = static_cast<std::uint8_t>(seed >> 24);
    }
    HexPane pane;
    pane.InitView(korvo::test::kTestLineHeight, linesPerPage * korvo::test::kTestLineHeight);
    // The receive pane is filled by appends and scrolled to its end; the
    // send pane by SetData.
    if (received)
        pane.AppendData(length, bytes.data());
    else
        pane.SetData(length, bytes.data());

    for (int step = 0; in.More() && step < 400; ++step) {
        switch (in.Next() % 4) {
        case 0: {
            static const PaneKey keys[] = {PaneKey::Up,    PaneKey::Down,   PaneKey::Left,
                                           PaneKey::Right, PaneKey::PageUp, PaneKey::PageDown};
            pane.OnKeyDown(keys[in.Next() % 6]);
            break;
        }
        case 1: {
            const unsigned pick = in.Next();
            pane.OnChar(pick < sizeof kChars / sizeof kChars[0] ? kChars[pick] : pick);
            break;
        }
        case 2: {
            const int textLength = pane.Surface().Length();
            const int pos = static_cast<int>((in.Next() << 8) | in.Next()) % (textLength + 80);
            pane.OnLButtonUp(pos);
            break;
        }
        default:
            pane.OnVScroll(static_cast<int>(in.Next() % 10), static_cast<int>(in.Next()) - 8);
            break;
        }
        if (pane.m_nLength != length)
            return Fail("length changed", step);
        if (!ZeroFrom(pane, length, length + 4096))
            return Fail("byte past the length changed", step);
        const int caret = pane.GetCaret();
        if (length == 0 ? caret != 0 : !pane.IsCaretStop(caret))
            return Fail("caret off the stops", step);
        if (korvo::test::ExpectedText(pane) != korvo::test::SurfaceText(pane))
            return Fail("shown text differs from the data", step);
    }
    if (!ZeroFrom(pane, length, PANE_CAPACITY))
        return Fail("byte past the length changed", -1);
    return 0;
}

KORVO_FUZZ_TARGET(FuzzHexEdit, 3000, 600)
