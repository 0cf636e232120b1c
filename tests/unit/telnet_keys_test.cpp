// What key presses type into the Telnet terminal, on any keyboard layout.
#include "telnet/telnet_keys.h"

#include <gtest/gtest.h>

namespace {

TEST(TelnetKeys, ControlKeysOnAnyLayout)
{
    const Qt::KeyboardModifiers ctrl = Qt::ControlModifier;
    const struct
    {
        const char* name;
        int key;
        Qt::KeyboardModifiers modifiers;
        const char16_t* text;
        quint32 nativeVirtualKey;
        std::u32string typed;
    } cases[] = {
        {"Ctrl+C", Qt::Key_C, ctrl, u"\x03", 'c', U"\x03"},
        {"Ctrl+C, no text", Qt::Key_C, ctrl, u"", 0, U"\x03"},
        {"Ctrl+Space", Qt::Key_Space, ctrl, u"", ' ', std::u32string(1, U'\0')},
        {"Ctrl+@", Qt::Key_At, ctrl | Qt::ShiftModifier, u"", '@', std::u32string(1, U'\0')},
        {"Ctrl+^", Qt::Key_AsciiCircum, ctrl | Qt::ShiftModifier, u"\x1e", '^', U"\x1e"},
        {"Ctrl+_", Qt::Key_Underscore, ctrl | Qt::ShiftModifier, u"\x1f", '_', U"\x1f"},
        {"Ctrl+] (]\\[ unchanged)", Qt::Key_BracketRight, ctrl, u"\x1d", ']', U"\x1d"},
        // A layout whose letter is not Latin: its control character, or the
        // key's Latin meaning.
        {"Ctrl+Cyrillic Es, control text", 0x0421, ctrl, u"\x03", 0x6c3, U"\x03"},
        {"Ctrl+Cyrillic Es, Latin key", 0x0421, ctrl, u"", 'C', U"\x03"},
        {"Ctrl+Greek, nothing Latin", 0x03a8, ctrl, u"\u03c8", 0x7f8, U""},
        {"Ctrl+F1 types nothing", Qt::Key_F1, ctrl, u"", 0xffbe, U""},
        {"plain letter", Qt::Key_A, Qt::NoModifier, u"a", 'a', U"a"},
        {"Alt+letter types nothing", Qt::Key_A, Qt::AltModifier, u"a", 'a', U""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.typed, TelnetKeyChars(c.key, c.modifiers, QString::fromUtf16(c.text), c.nativeVirtualKey))
            << c.name;
    }
}

} // namespace
