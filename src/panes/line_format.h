#pragma once

// One line of the hex dump, formatted from tables into a caller's buffer:
// "%08X| ", sixteen "%02x " cells split 8 + 8 by a space, a bar, sixteen text
// characters, then "\r\n", or a single space on the buffer's last line.
#include <cstdint>

enum { HEX_LINE_MAX = 78 };

// Writes data line `line` of a buffer of `length` bytes to out (room for
// HEX_LINE_MAX characters); returns the number written, 0 past the data.
int FormatHexLine(const std::uint8_t* data, int length, int line, char* out);

// The text-column character of a byte: 0x20-0x7F as itself, else '.'.
char HexTextChar(std::uint8_t value);

// The two lower-case digits of a byte.
const char* HexDigits(std::uint8_t value);
