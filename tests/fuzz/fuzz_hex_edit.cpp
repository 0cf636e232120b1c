// Random keys, characters, clicks and scroll commands against a pane. After
// every step: typing never changes the length, bytes past the length stay
// zero, the caret rests on a stop of an existing byte (0 in an empty pane),
// and the text shown is exactly the formatted visible lines.
//
// One pane serves every input, emptied between them, so the time goes to the
// key sequences rather than to clearing megabytes: the bytes just past the
// length are checked after every step, the whole tail now and then.
#include "support/fuzz_target.h"
#include "unit/hex_pane_helpers.h"

#include "panes/line_format.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

bool ZeroFrom(const HexPane& pane, int from, int to)
{
    static const std::uint8_t zeros[4096] = {};
    to = std::min(to, static_cast<int>(PANE_CAPACITY));
    for (int at = from; at < to; at += static_cast<int>(sizeof zeros)) {
        const int n = std::min(to - at, static_cast<int>(sizeof zeros));
        if (std::memcmp(pane.m_pData + at, zeros, static_cast<std::size_t>(n)) != 0)
            return false;
    }
    return true;
}

// The rendered rows, compared with the formatted lines without building strings.
bool ShowsItsData(const HexPane& pane)
{
    const TextSurface& text = pane.Surface();
    const int first = pane.FirstLine();
    const int last = std::min(pane.m_nTotalLines - 1, pane.ScrollInfo().nPos + pane.m_nLinesPerPage);
    int at = 0;
    char line[HEX_LINE_MAX];
    for (int i = first; i <= last; ++i) {
        const int n = FormatHexLine(pane.m_pData, pane.m_nLength, i, line);
        if (at + n > text.Length() ||
            std::memcmp(text.Text().data() + at, line, static_cast<std::size_t>(n)) != 0)
            return false;
        at += n;
    }
    return at == text.Length();
}

int Fail(const char* what, int step)
{
    std::fprintf(stderr, "fuzz_hex_edit: %s after step %d\n", what, step);
    return 1;
}

const unsigned kChars[] = {'0',  '7',  '9',  'a',    'F', 'f', 'G', 'z',  ' ', '~',
                           0x7F, 0x80, 0xFF, 0xAC00, 8,   9,   13,  0x16, 0};

// Far enough past the length for any edit that strays a page or so.
constexpr int kNearTail = 512;
// Every so many inputs (and on the first) the whole tail is checked.
constexpr unsigned kWholeTailEvery = 256;

} // namespace

static int FuzzHexEdit(const uint8_t* data, size_t size)
{
    static HexPane pane;
    static unsigned inputs = 0;
    const bool wholeTail = inputs++ % kWholeTailEvery == 0;

    FuzzReader in(data, size);
    const int length = static_cast<int>(((in.Next() << 8) | in.Next()) % 2100);
    const int linesPerPage = 1 + static_cast<int>(in.Next() % 12);
    const bool received = in.Next() & 1;

    // The bytes themselves come from a seed, leaving the input for the steps.
    std::uint8_t bytes[2100];
    std::uint32_t seed = in.Next() * 2654435761u + 1;
    for (int i = 0; i < length; ++i) {
        seed = seed * 1664525u + 1013904223u;
        bytes[i] = static_cast<std::uint8_t>(seed >> 24);
    }
    // Emptied as a fresh pane is: no bytes, top line 0, the view measured anew.
    pane.SetDataLength(0);
    pane.SetViewMetrics(korvo::test::kTestLineHeight, linesPerPage * korvo::test::kTestLineHeight);
    // The receive pane is filled by appends and scrolled to its end; the
    // send pane by SetData.
    if (received)
        pane.AppendData(length, bytes);
    else
        pane.SetData(length, bytes);

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
        if (!ZeroFrom(pane, length, length + kNearTail))
            return Fail("byte past the length changed", step);
        const int caret = pane.GetCaret();
        if (length == 0 ? caret != 0 : !pane.IsCaretStop(caret))
            return Fail("caret off the stops", step);
        if (!ShowsItsData(pane))
            return Fail("shown text differs from the data", step);
    }
    if (wholeTail && !ZeroFrom(pane, length, PANE_CAPACITY))
        return Fail("byte past the length changed", -1);
    return 0;
}

KORVO_FUZZ_TARGET(FuzzHexEdit, 3000, 600)
