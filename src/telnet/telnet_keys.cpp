#include "telnet/telnet_keys.h"

#include <QList>

std::u32string TelnetKeyChars(int key, Qt::KeyboardModifiers modifiers, const QString& text)
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
        if (key >= Qt::Key_A && key <= Qt::Key_Z)
            return std::u32string(1, static_cast<char32_t>(key - Qt::Key_A + 1));
        switch (key) {
        case Qt::Key_BracketLeft:
            return U"\x1b";
        case Qt::Key_Backslash:
            return U"\x1c";
        case Qt::Key_BracketRight:
            return U"\x1d";
        default:
            return {};
        }
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
