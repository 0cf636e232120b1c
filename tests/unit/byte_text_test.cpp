// Byte strings typed as hex or as text with escapes: what is accepted, what
// is refused and where the message points.
#include "messages/byte_text.h"

#include <gtest/gtest.h>

namespace {

struct Case
{
    ByteForm form;
    const char16_t* text;
    const char* hex; // the bytes expected, or null when refused
    ByteTextError error;
    qsizetype position;
};

TEST(ByteText, ParsesBothFormsAndPointsAtTheFault)
{
    using E = ByteTextError;
    const Case cases[] = {
        {ByteForm::Hex, u"02 00 01 03", "02000103", E::None, 0},
        {ByteForm::Hex, u"0a0B  Ff\t\n10 ", "0a0bff10", E::None, 0},
        {ByteForm::Hex, u"", "", E::None, 0},
        {ByteForm::Hex, u"0", nullptr, E::LoneHexDigit, 0},
        {ByteForm::Hex, u"123", nullptr, E::LoneHexDigit, 2},
        {ByteForm::Hex, u"0 2", nullptr, E::LoneHexDigit, 0},
        {ByteForm::Hex, u"0G", nullptr, E::NotHexDigit, 1},
        {ByteForm::Hex, u"01 zz", nullptr, E::NotHexDigit, 3},
        {ByteForm::Hex, u"0x41", nullptr, E::NotHexDigit, 1},
        {ByteForm::Text, u"RST\\r\\n", "5253540d0a", E::None, 0},
        {ByteForm::Text, u"\\0\\t\\\\\\x41\\xfF", "00095c41ff", E::None, 0},
        {ByteForm::Text, u"\\01", "0031", E::None, 0},
        {ByteForm::Text, u"é€😀", "c3a9e282acf09f9880", E::None, 0},
        {ByteForm::Text, u"a\\", nullptr, E::TrailingBackslash, 1},
        {ByteForm::Text, u"\\x4", nullptr, E::BadHexEscape, 0},
        {ByteForm::Text, u"ab\\xZZ", nullptr, E::BadHexEscape, 2},
        {ByteForm::Text, u"\\x4G", nullptr, E::BadHexEscape, 0},
        {ByteForm::Text, u"ok\\q", nullptr, E::UnknownEscape, 2},
    };
    for (const Case& c : cases) {
        const QString text = QString::fromUtf16(c.text);
        SCOPED_TRACE(text.toStdString());
        const ByteTextParse parse = ParseBytes(c.form, text);
        EXPECT_EQ(c.error, parse.error);
        if (c.hex)
            EXPECT_EQ(QByteArray::fromHex(c.hex), parse.bytes);
        else
            EXPECT_EQ(c.position, parse.position);
    }
}

TEST(ByteText, MessagesNameThePlaceAndTheCharacter)
{
    const struct
    {
        ByteForm form;
        const char* text;
        const char* message;
    } cases[] = {
        {ByteForm::Hex, "0G", "Character 2: \"G\" is not a hex digit."},
        {ByteForm::Hex, "01 2", "Character 4: a hex digit needs a second one to make a byte."},
        {ByteForm::Text, "ab\\",
         "Character 3: a backslash at the end escapes nothing; write \\\\ for a backslash."},
        {ByteForm::Text, "\\xZZ", "Character 1: \\x needs two hex digits, as in \\x0D."},
        {ByteForm::Text, "x\\q", "Character 2: \\q is not an escape; use \\r, \\n, \\t, \\0, \\\\ or \\xHH."},
    };
    for (const auto& c : cases) {
        const QString text = QString::fromLatin1(c.text);
        EXPECT_EQ(QString::fromUtf8(c.message), ByteTextErrorMessage(ParseBytes(c.form, text), text));
    }
}

TEST(ByteText, TheLimitCountsBytesNotCharacters)
{
    EXPECT_TRUE(ParseHexBytes(u"01 02", 2).Ok());
    const ByteTextParse hex = ParseHexBytes(u"01 02 03", 2);
    EXPECT_EQ(ByteTextError::TooLong, hex.error);
    EXPECT_EQ(6, hex.position);
    // "é" is two bytes: the second character no longer fits in three.
    const ByteTextParse text = ParseEscapedBytes(u"aéb", 2);
    EXPECT_EQ(ByteTextError::TooLong, text.error);
    EXPECT_EQ(1, text.position);
    EXPECT_EQ("Character 2: the data would be longer than 2 bytes.",
              ByteTextErrorMessage(text, u"aéb").toStdString());

    const QByteArray full(BYTE_TEXT_MAX, '\x5a');
    EXPECT_EQ(full, ParseHexBytes(FormatHexBytes(full)).bytes);
    EXPECT_EQ(ByteTextError::TooLong, ParseEscapedBytes(FormatEscapedBytes(full + 'z')).error);
}

TEST(ByteText, EveryByteComesBackFromEitherForm)
{
    QByteArray all;
    for (int i = 0; i < 256; ++i)
        all.append(static_cast<char>(i));
    EXPECT_EQ(all, ParseHexBytes(FormatHexBytes(all, -1, 16)).bytes);
    EXPECT_EQ(all, ParseEscapedBytes(FormatEscapedBytes(all)).bytes);
    EXPECT_EQ("RST\\r\\n\\x7F\\xC3", FormatEscapedBytes("RST\r\n\x7f\xc3").toStdString());
    EXPECT_EQ("02 00 …", FormatHexBytes(QByteArray::fromHex("020001"), 2).toStdString());
}

} // namespace
