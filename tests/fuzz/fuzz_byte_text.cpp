// Byte strings as people type them, fields and faults among them, in both
// forms. A refusal points inside the text and says something; what parses
// stays within its limit, renders to its size with every checksum right over
// the bytes before it, and reads back the same from either form.
#include "support/fuzz_target.h"

#include "messages/byte_text.h"

#include <array>
#include <cstdio>
#include <iterator>

namespace {

int Fail(const char* what, const QString& text)
{
    std::fprintf(stderr, "fuzz_byte_text: %s in \"%s\"\n", what, text.toUtf8().constData());
    return 1;
}

// Pieces that both forms take, mostly, so that long strings with many fields
// parse; then pieces only text takes, and pieces that trip either form.
const char16_t* const kGood[] = {
    u"7F",       u"0a",          u" ",           u"{crc16-modbus}",    u"{crc16-ccitt}", u"{crc16-xmodem}",
    u"{crc32}",  u"{crc32:be}",  u"{sum8}",      u"{sum16:le}",        u"{xor8}",        u"{lrc}",
    u"{seq:u8}", u"{seq:u16be}", u"{seq:u32le}", u"{CRC16-Modbus:BE}",
};
const char16_t* const kOdd[] = {
    u"\\{",       u"\\x41",     u"\\r",    u"é",   u"😀",           u"}",      u"\n",
    u"{",         u"\\",        u"0",      u"G",   u"\xD800",      u"\xDC00", u"{crc8}",
    u"{sum8:be}", u"{seq:u16}", u"{crc32", u":le", u"{seq:u8:le}", u"{}",
};

int CheckParse(const QString& text, ByteForm form, qsizetype limit, FieldUse use, std::uint32_t counter)
{
    const ByteTextParse parse = ParseBytes(form, text, limit, use);
    if (!parse.Ok()) {
        if (parse.position < 0 || parse.length < 1 || parse.position + parse.length > text.size())
            return Fail("a fault outside the text", text);
        if (ByteTextErrorMessage(parse, text).isEmpty())
            return Fail("a fault without a message", text);
        return 0;
    }
    if (parse.bytes.size() > limit)
        return Fail("over the limit", text);
    if (use == FieldUse::Refused && !parse.fields.empty())
        return Fail("a field where none is allowed", text);
    const ByteTemplate bytes = parse.Template();
    if (bytes.Fields().size() != parse.fields.size())
        return Fail("a field lost", text);
    const QByteArray sent = bytes.Render(counter);
    if (sent.size() != parse.bytes.size())
        return Fail("a send of another size", text);
    const auto* p = reinterpret_cast<const std::uint8_t*>(sent.constData());
    for (const ByteField& field : bytes.Fields()) {
        if (field.kind == FieldKind::Sequence)
            continue;
        std::uint32_t got = 0;
        for (int i = 0; i < field.width; ++i)
            got |= std::uint32_t{p[field.offset + i]} << 8 * (field.bigEndian ? field.width - 1 - i : i);
        const std::uint32_t want = FieldChecksum(field.kind, p + field.from, field.offset - field.from);
        const std::uint32_t mask = field.width == 4 ? 0xFFFFFFFFu : (1u << 8 * field.width) - 1;
        if (got != (want & mask))
            return Fail("a checksum that does not match its bytes", text);
    }
    for (const ByteForm back : {ByteForm::Hex, ByteForm::Text}) {
        const QString written = FormatTemplate(back, bytes, -1, 16);
        const ByteTextParse again = ParseBytes(back, written, limit, use);
        if (!again.Ok() || !(again.Template() == bytes))
            return Fail("written and read back, not the same", text);
    }
    return 0;
}

} // namespace

static int FuzzByteText(const uint8_t* data, size_t size)
{
    FuzzReader in(data, size);
    const qsizetype limit = in.Next() % 4 == 0 ? in.Next() % 16 : BYTE_TEXT_MAX;
    const std::uint32_t counter = in.Next() << 24 | in.Next() << 8 | in.Next();
    // Odd pieces never, now and then, or often.
    const unsigned oddOneIn = std::array{0u, 128u, 8u}[in.Next() % 3];
    QString text;
    while (in.More() && text.size() < 2000) {
        const unsigned pick = in.Next() << 8 | in.Next();
        const bool odd = oddOneIn > 0 && pick % oddOneIn == 0;
        text += QString::fromUtf16(odd ? kOdd[(pick >> 8) % std::size(kOdd)]
                                       : kGood[(pick >> 8) % std::size(kGood)]);
    }
    for (const ByteForm form : {ByteForm::Hex, ByteForm::Text}) {
        for (const FieldUse use : {FieldUse::Allowed, FieldUse::Refused}) {
            if (const int failed = CheckParse(text, form, limit, use, counter))
                return failed;
        }
    }
    return 0;
}

KORVO_FUZZ_TARGET(FuzzByteText, 3000, 400)
