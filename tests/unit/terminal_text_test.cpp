// The terminal's text: decoding, line breaks, wrapped rows, erasing and trimming.
#include "telnet/terminal_text.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QStringList>

#include <vector>

namespace {

struct Op
{
    enum Kind { Append, Erase, Trim, Back } kind;
    std::string bytes;
    int count = 0;
};
Op A(std::string bytes)
{
    return {Op::Append, std::move(bytes)};
}
Op E()
{
    return {Op::Erase, {}};
}
Op T(int count)
{
    return {Op::Trim, {}, count};
}
Op B()
{
    return {Op::Back, {}};
}

// Every row as the painter gets it, '|' between rows.
QString RowsText(const TerminalText& t, int first)
{
    std::vector<TerminalText::Span> spans(static_cast<size_t>(t.Rows() + 1));
    const int n = t.RowSpans(first, t.Rows() + 1, spans.data());
    QStringList rows;
    for (int i = 0; i < n; ++i)
        rows << t.Text()
                    .mid(spans[static_cast<size_t>(i)].start, spans[static_cast<size_t>(i)].length)
                    .toString();
    return rows.join(QLatin1Char('|'));
}

TEST(TerminalText, Table)
{
    const struct
    {
        const char* name;
        int columns;
        std::vector<Op> ops;
        const char* rows; // UTF-8, rows joined by '|'
        int caretColumn;
    } cases[] = {
        {"CR LF, lone CR and lone LF each end a line", 80, {A("a\r\nb\rc\nd")}, "a|b|c|d", 1},
        {"CR LF split between appends is one break", 80, {A("a\r"), A("\nb")}, "a|b", 1},
        {"UTF-8 split between appends is joined", 80, {A("\xED\x95"), A("\x9C!")}, "한!", 3},
        {"bytes outside UTF-8 stand for themselves", 80, {A("\xFF\xC3(")}, "ÿÃ(", 3},
        {"overlong and surrogate forms are not UTF-8", 80, {A("\xE0\x80\xED\xA0")}, "à\u0080í\u00A0", 4},
        {"long lines wrap", 4, {A("abcdefghi")}, "abcd|efgh|i", 1},
        {"a full row wraps only with the next character", 4, {A("abcd")}, "abcd", 4},
        {"a wide character that does not fit wraps", 5, {A("ab한한")}, "ab한|한", 2},
        {"an emoji is wide", 3, {A("ab\xF0\x9F\x98\x80")}, "ab|\xF0\x9F\x98\x80", 2},
        {"a combining mark takes no cell", 2, {A("e\xCC\x81xy")}, "e\xCC\x81x|y", 1},
        {"tabs stop every eight cells", 10, {A("a\tb")}, "a\tb", 9},
        {"a tab after a full row wraps", 10, {A("abcdefghij\tx")}, "abcdefghij|\tx", 9},
        {"erasing takes characters, then the line break", 80, {A("ab\ncd"), E(), E(), E()}, "ab", 2},
        {"erasing the only character of a row removes the row", 3, {A("abcd"), E()}, "abc", 3},
        {"erasing takes a whole surrogate pair", 80, {A("x\xF0\x9F\x98\x80"), E()}, "x", 1},
        {"erasing ends an unfinished sequence first", 80, {A("x\xC3"), E()}, "x", 1},
        {"an LF after an erased CR breaks again", 80, {A("a\r"), E(), A("\nb")}, "a|b", 1},
        {"erasing an empty text does nothing", 80, {E()}, "", 0},
        {"a step back goes into a wide character first", 80, {A("a한"), B()}, "a한", 2},
        {"a wide character at a row's start", 3, {A("ab한"), B(), B()}, "ab", 2},
        {"a step back takes a character with its marks", 80, {A("xe\xCC\x81\xCC\x82"), B()}, "x", 1},
        {"trimming removes whole lines and part of one", 80, {A("one\ntwo\nthree"), T(5)}, "wo|three", 5},
        {"trimming part of a wrapped line lays it out again", 4, {A("abcdefghij"), T(5)}, "fghi|j", 1},
        {"trimming more than there is empties", 80, {A("one\ntwo"), T(100), A("x")}, "x", 1},
        {"trimming keeps a surrogate pair whole",
         80,
         {A("a\xF0\x9F\x98\x80"
            "b"),
          T(2)},
         "b",
         1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TerminalText t;
        t.SetColumns(c.columns);
        for (const Op& op : c.ops) {
            if (op.kind == Op::Append)
                t.Append(op.bytes.data(), static_cast<int>(op.bytes.size()));
            else if (op.kind == Op::Erase)
                t.EraseLast();
            else if (op.kind == Op::Back)
                t.BackCell();
            else
                t.TrimHead(op.count);
        }
        const QString rows = QString::fromUtf8(c.rows);
        EXPECT_EQ(rows, RowsText(t, 0));
        EXPECT_EQ(rows.count(QLatin1Char('|')) + 1, t.Rows());
        EXPECT_EQ(c.caretColumn, t.CaretColumn());
        // Painting from any row gives the rest of the same rows.
        for (int first = 1; first < t.Rows(); ++first)
            EXPECT_EQ(rows.section(QLatin1Char('|'), first), RowsText(t, first)) << "from row " << first;
    }
}

// Widths as the Unicode data has them: East Asian Wide and Fullwidth take two
// cells, combining marks none, everything else one.
TEST(TerminalText, CellWidthsFollowTheUnicodeData)
{
    QFile data(QStringLiteral("/usr/share/unicode/EastAsianWidth.txt"));
    ASSERT_TRUE(data.open(QIODevice::ReadOnly)) << "needs unicode-data (scripts/install-deps)";
    std::vector<bool> wide(0x110000);
    while (!data.atEnd()) {
        const QList<QByteArray> fields = data.readLine().split('#').front().trimmed().split(';');
        if (fields.size() != 2 || (fields[1] != "W" && fields[1] != "F"))
            continue;
        const QList<QByteArray> range = fields[0].split('.');
        for (uint c = range.front().toUInt(nullptr, 16); c <= range.back().toUInt(nullptr, 16); ++c)
            wide[c] = true;
    }
    int wrong = 0;
    for (char32_t c = 0x20; c < 0x110000; ++c) {
        if (QChar::isSurrogate(c))
            continue;
        const QChar::Category category = QChar::category(c);
        const bool mark = category == QChar::Mark_NonSpacing || category == QChar::Mark_Enclosing;
        const int expected = mark ? 0 : wide[c] ? 2 : 1;
        if (TerminalText::CellWidth(c) != expected && ++wrong <= 10)
            ADD_FAILURE() << "U+" << std::hex << static_cast<uint>(c) << ": " << TerminalText::CellWidth(c);
    }
    EXPECT_EQ(0, wrong);
}

TEST(TerminalText, NarrowingRelaysEveryLine)
{
    TerminalText t;
    t.SetColumns(80);
    const std::string text = "0123456789\n\tab\n한국어";
    t.Append(text.data(), static_cast<int>(text.size()));
    ASSERT_EQ(3, t.Rows());
    t.SetColumns(4);
    EXPECT_EQ(QString::fromUtf8("0123|4567|89|\t|ab|한국|어"), RowsText(t, 0));
    EXPECT_EQ(2, t.CaretColumn());
}

} // namespace
