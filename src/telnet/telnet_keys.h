#pragma once

// What a key press types into the Telnet terminal, as the characters the
// engine takes: Enter 13, Backspace 8, Tab 9, Escape 27, Ctrl with a letter
// (or with @, Space, [, \, ], ^, _) its control code, printable text as
// itself. Cursor, editing and function keys type nothing, and neither do Alt
// or Meta combinations. On a layout without Latin letters Ctrl still types
// the control code: the one the platform put in the text, or the one of the
// key's Latin meaning (its native virtual key, where that is Latin).
#include <QString>
#include <Qt>

#include <string>

std::u32string TelnetKeyChars(int key, Qt::KeyboardModifiers modifiers, const QString& text,
                              quint32 nativeVirtualKey = 0);
