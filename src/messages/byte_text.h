#pragma once

// Shared with the automatic replies window (src/replies/): byte strings as
// people type them, in one of two forms, and back.
//
//   hex:  "02 00 1a 03", pairs of digits in either case, blanks (spaces,
//         tabs, line breaks) between bytes;
//   text: "RST\r\n", every character as its UTF-8 bytes except the escapes
//         \r \n \t \0 \\ \{ and \xHH.
//
// Where fields are allowed (what is sent, not what is matched), both forms
// take fields in braces between the bytes, computed at each send:
//
//   field    = "{" checksum [":" ("le" | "be")] "}" | "{seq:" counter "}"
//   checksum = "crc16-modbus" | "crc16-ccitt" | "crc16-xmodem" | "crc32"
//            | "sum8" | "sum16" | "xor8" | "lrc"
//   counter  = "u8" | "u16be" | "u16le" | "u32be" | "u32le"
//
// A string without braces means what it meant before fields existed.
// A parse that fails says what is wrong and where, so the entry can point at
// the place. No widgets here.
#include "messages/byte_template.h"

#include <QByteArray>
#include <QString>
#include <QStringView>

#include <vector>

enum class ByteForm { Hex, Text };

// The most bytes one entry holds: as many as a pane.
inline constexpr qsizetype BYTE_TEXT_MAX = 1048576;

enum class ByteTextError {
    None,
    NotHexDigit,       // "0G"
    LoneHexDigit,      // "0 2", "123": a digit without its pair
    TrailingBackslash, // "abc\"
    BadHexEscape,      // "\x4", "\xZZ"
    UnknownEscape,     // "\q"
    TooLong,           // more than the limit
    Empty,             // no bytes where some are needed (set by callers)
    UnclosedField,     // "01 {crc32"
    UnknownField,      // "{crc8}"
    OrderOnOneByte,    // "{sum8:be}"
    FieldNotAllowed,   // a brace in a pattern
    LoneSurrogate,     // half of a character that has no UTF-8
};

enum class FieldUse { Refused, Allowed };

struct ByteTextParse
{
    // With fields, each one's place holds zeros.
    QByteArray bytes;
    std::vector<ByteField> fields;
    ByteTextError error = ByteTextError::None;
    // Where the fault is: index and length in the text, in UTF-16 units (as
    // a text cursor counts); messages count characters.
    qsizetype position = 0;
    qsizetype length = 0;
    qsizetype limit = BYTE_TEXT_MAX;

    bool Ok() const { return error == ByteTextError::None; }
    ByteTemplate Template() const
    {
        return fields.empty() ? ByteTemplate(bytes) : ByteTemplate(bytes, fields);
    }
};

// `limit` counts the bytes of a send, fields included.
ByteTextParse ParseHexBytes(QStringView text, qsizetype limit = BYTE_TEXT_MAX,
                            FieldUse use = FieldUse::Refused);
ByteTextParse ParseEscapedBytes(QStringView text, qsizetype limit = BYTE_TEXT_MAX,
                                FieldUse use = FieldUse::Refused);
ByteTextParse ParseBytes(ByteForm form, QStringView text, qsizetype limit = BYTE_TEXT_MAX,
                         FieldUse use = FieldUse::Refused);

// "02 00 1A 03". With `maxBytes` >= 0 at most that many bytes, then "…";
// with `bytesPerLine` > 0 a line break after every that many bytes.
QString FormatHexBytes(const QByteArray& bytes, qsizetype maxBytes = -1, int bytesPerLine = 0);
// Printable ASCII as itself; \r \n \t \0 \\ \{ and \xHH for every other
// byte, so that parsing the result gives the same bytes back.
QString FormatEscapedBytes(const QByteArray& bytes, qsizetype maxBytes = -1);
QString FormatBytes(ByteForm form, const QByteArray& bytes, qsizetype maxBytes = -1);
// The bytes with the fields in braces among them, as they parse back;
// `maxBytes` and `bytesPerLine` count a field as its bytes.
QString FormatTemplate(ByteForm form, const ByteTemplate& bytes, qsizetype maxBytes = -1,
                       int bytesPerLine = 0);

// What the user reads about a failed parse, in the active language, with the
// place as a 1-based character number.
QString ByteTextErrorMessage(const ByteTextParse& parse, QStringView text);
// What may help beyond the message (the fields there are, after an unknown
// one), or nothing.
QString ByteTextErrorHint(const ByteTextParse& parse);
