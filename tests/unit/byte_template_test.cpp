// Fields inside byte strings: each checksum against its catalogue check
// value and in its byte order on the wire, what each one covers, counters at
// their widths, and templates that read back as they were written.
#include "messages/byte_text.h"

#include <gtest/gtest.h>

namespace {

ByteTemplate Parsed(ByteForm form, const QString& text)
{
    const ByteTextParse parse = ParseBytes(form, text, BYTE_TEXT_MAX, FieldUse::Allowed);
    EXPECT_TRUE(parse.Ok()) << text.toStdString();
    return parse.Template();
}

TEST(ByteFields, EachChecksumGivesItsCheckValueInItsByteOrder)
{
    const struct
    {
        const char* field;
        std::uint32_t check;
        const char* wire; // after "123456789"
    } cases[] = {
        {"crc16-modbus", 0x4B37, "374b"},
        {"crc16-modbus:be", 0x4B37, "4b37"},
        {"crc16-ccitt", 0x29B1, "29b1"},
        {"crc16-ccitt:le", 0x29B1, "b129"},
        {"crc16-xmodem", 0x31C3, "31c3"},
        {"crc32", 0xCBF43926, "2639f4cb"},
        {"crc32:be", 0xCBF43926, "cbf43926"},
        {"sum8", 0xDD, "dd"},
        {"sum16", 0x01DD, "01dd"},
        {"sum16:le", 0x01DD, "dd01"},
        {"xor8", 0x31, "31"},
        {"lrc", 0x23, "23"},
    };
    const QByteArray digits("123456789");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.field);
        const ByteTemplate bytes = Parsed(ByteForm::Text, QStringLiteral("123456789{%1}").arg(c.field));
        ASSERT_EQ(1u, bytes.Fields().size());
        EXPECT_EQ(c.check,
                  FieldChecksum(bytes.Fields()[0].kind, reinterpret_cast<const std::uint8_t*>(digits.data()),
                                digits.size()));
        EXPECT_EQ(digits + QByteArray::fromHex(c.wire), bytes.Render(0));
    }
}

TEST(ByteFields, AChecksumCoversTheBytesBackToThePreviousChecksumCountersIncluded)
{
    const struct
    {
        const char* hex;
        std::uint32_t counter;
        const char* sent;
    } cases[] = {
        {"01 02 {sum8} 05 {xor8}", 0, "0102030505"},
        {"{seq:u8} 10 {sum8}", 5, "051015"},
        {"{sum8}", 0, "00"},
        {"01 {sum8} {sum8}", 0, "010100"},
        {"10 {seq:u16le} {sum16}", 0x0102, "1002010013"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.hex);
        EXPECT_EQ(QByteArray::fromHex(c.sent),
                  Parsed(ByteForm::Hex, QString::fromLatin1(c.hex)).Render(c.counter));
    }
}

TEST(ByteFields, CountersWrapAtTheirWidthInTheirByteOrder)
{
    const struct
    {
        const char* field;
        std::uint32_t counter;
        const char* sent;
    } cases[] = {
        {"seq:u8", 0xFF, "ff"},
        {"seq:u8", 0x100, "00"},
        {"seq:u16be", 0x10203, "0203"},
        {"seq:u16le", 0x10203, "0302"},
        {"seq:u32be", 0x01020304, "01020304"},
        {"seq:u32le", 0x01020304, "04030201"},
        {"seq:u32be", 0xFFFFFFFF, "ffffffff"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.field);
        EXPECT_EQ(QByteArray::fromHex(c.sent),
                  Parsed(ByteForm::Hex, QStringLiteral("{%1}").arg(c.field)).Render(c.counter));
    }
}

TEST(ByteFields, TemplatesReadBackFromEitherFormAndPlainOnesStayTheirBytes)
{
    const ByteTemplate modbus =
        Parsed(ByteForm::Hex, QStringLiteral("{seq:u16be} 00 00 00 06 01 03 00 0a 00 02 "
                                             "7b {crc16-modbus:be} {CRC32}"));
    for (const ByteForm form : {ByteForm::Hex, ByteForm::Text}) {
        const QString text = FormatTemplate(form, modbus, -1, 4);
        SCOPED_TRACE(text.toStdString());
        EXPECT_EQ(modbus, Parsed(form, text));
    }
    EXPECT_EQ("{seq:u16be} 00 00\n00 06 01 03\n00 0A 00 02\n7B {crc16-modbus:be} {crc32}",
              FormatTemplate(ByteForm::Hex, modbus, -1, 4).toStdString());
    EXPECT_EQ("{seq:u16be}\\0\\0\\0\\x06\\x01\\x03\\0\\n\\0\\x02\\{{crc16-modbus:be}{crc32}",
              FormatTemplate(ByteForm::Text, modbus).toStdString());
    EXPECT_EQ("{seq:u16be} 00 00 …", FormatTemplate(ByteForm::Hex, modbus, 4).toStdString());

    // No braces: the bytes as before, shared rather than copied.
    const ByteTemplate plain = Parsed(ByteForm::Hex, QStringLiteral("02 00 01 03"));
    EXPECT_FALSE(plain.HasFields());
    EXPECT_EQ(plain.Literal().constData(), plain.Render(7).constData());
}

} // namespace
