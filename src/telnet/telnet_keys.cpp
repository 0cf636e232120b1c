#include "telnet/telnet_keys.h"

#include <QList>

namespace {

// The control code of a character of @ A-Z [ \ ] ^ _ (or its lower-case
// form), and of Space; -1 for any other.
int ControlCode(char32_t c)
{
    if (c == U' ')
        return 0;
    return c >= U'@' && c <= U'~' && c != U'`' ? static_cast<int>(c & 0x1F) : -1;
}

} // namespace

std::u32string TelnetKeyChars(int key, Qt::KeyboardModifiers modifiers, const QString& text,
                              quint32 nativeVirtualKey)
{
    if (modifiers & (Qt::AltModifier | Qt::MetaModifier))
        return {};
    switch (key) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        return U"\r";
    case Qt::Key_Backspace:
        return U"\b";
    case Qt::Key_Tab:
        return U"\t";
    case Qt::Key_Escape:
        return U"\x1b";
    default:
        break;
    }
    if (modifiers & Qt::ControlModifier) {
        // Qt's keys of these characters are their ASCII codes.
        int code = key < 0x80 ? ControlCode(static_cast<char32_t>(key)) : -1;
        if (code < 0 && text.size() == 1 && text[0].unicode() < 0x20)
            code = text[0].unicode();
        if (code < 0 && nativeVirtualKey < 0x80)
            code = ControlCode(nativeVirtualKey);
        return code < 0 ? std::u32string() : std::u32string(1, static_cast<char32_t>(code));
    }
    // Keys without text (cursor block, function keys) type nothing; Delete's
    // text is DEL, a control character, and is dropped with the others.
    std::u32string chars;
    for (const char32_t c : text.toUcs4()) {
        if (c >= 0x20 && c != 0x7F && !(c >= 0x80 && c < 0xA0))
            chars.push_back(c);
    }
    return chars;
}
