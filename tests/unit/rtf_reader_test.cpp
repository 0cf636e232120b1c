// The RTF reader against small documents: what text and formats each must give,
// whatever way the bytes are split into chunks.
#include "ui/rtf_reader.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// A compact picture of the result: one line per paragraph, "<alignment>:" then
// the runs; a run that is not plain carries its flags in brackets (b, i, u and
// the size in half points when it is not 24). \line shows as "<br>".
std::string Describe(const RtfReader& reader)
{
    std::string out;
    for (const RtfParagraph& p : reader.Paragraphs()) {
        if (!out.empty())
            out += '\n';
        out += "LCRJ"[static_cast<int>(p.format.alignment)];
        // Appended piece by piece: GCC 12 at -O3 takes "(" + std::string&& for an
        // overlapping memcpy (a false -Wrestrict).
        if (p.format.spaceBefore || p.format.spaceAfter) {
            out += '(';
            out += std::to_string(p.format.spaceBefore);
            out += ',';
            out += std::to_string(p.format.spaceAfter);
            out += ')';
        }
        out += ':';
        for (const RtfRun& run : p.runs) {
            std::string flags;
            auto add = [&flags](const std::string& f) { flags += (flags.empty() ? "" : ",") + f; };
            if (run.format.bold)
                add("b");
            if (run.format.italic)
                add("i");
            if (run.format.underline)
                add("u");
            if (run.format.halfPoints != 24)
                add(std::to_string(run.format.halfPoints));
            if (!flags.empty())
                out += "[" + flags + "]";
            QString text = run.text;
            text.replace(QChar(0x2028), QStringLiteral("<br>"));
            out += text.toStdString();
        }
    }
    return out;
}

std::string ReadWhole(const std::string& rtf)
{
    RtfReader r;
    r.Feed(rtf.data(), rtf.size());
    r.Finish();
    return Describe(r);
}

struct Case
{
    const char* name;
    std::string rtf;
    std::string expected;
};

const Case kCases[] = {
    {"plain text", R"({\rtf1 Hello world\par})", "L:Hello world"},
    {"bold on and off", R"({\rtf1 a\b b\b0 c})", "L:a[b]bc"},
    {"italic and underline", R"({\rtf1 \i x\i0\ul y\ulnone z\ul w\ul0 v})", "L:[i]x[u]yz[u]wv"},
    {"a group keeps its formats to itself", R"({\rtf1 a{\b\i b}c})", "L:a[b,i]bc"},
    {"font size, zero meaning the default", R"({\rtf1\fs20 a\fs0 b})", "L:[20]ab"},
    {"plain resets character formats", R"({\rtf1\b\i\ul\fs30 a\plain b})", "L:[b,i,u,30]ab"},
    {"alignment holds until pard", R"({\rtf1\qc a\par b\par\pard c\par\qr d\par\qj e})",
     "C:a\nC:b\nL:c\nR:d\nJ:e"},
    {"alignment is taken at the paragraph mark", R"({\rtf1 a\qc\par})", "C:a"},
    {"space before and after", R"({\rtf1\sb120\sa240 a\par\pard b})", "L(120,240):a\nL:b"},
    {"empty paragraphs stay", R"({\rtf1 a\par\par b\par})", "L:a\nL:\nL:b"},
    {"line break and tab", R"({\rtf1 a\line b\tab c})", "L:a<br>b\tc"},
    {"escaped characters", R"({\rtf1 \\\{\}})", "L:\\{}"},
    {"unicode, positive and negative", R"({\rtf1 \u54620?\u-10916?x})", "L:한한x"},
    {"uc2 skips two fallback characters", R"({\rtf1\uc2\u233ab c})", "L:é c"},
    {"uc0 skips none", R"({\rtf1\uc0\u233 x})", "L:éx"},
    {"a hex escape is one fallback character", R"({\rtf1\u8364\'80x})", "L:€x"},
    {"a control word is one fallback character", R"({\rtf1\u233\tab x})", "L:éx"},
    {"fallback skipping ends with the group", R"({\rtf1{\uc3\u233 a}bc})", "L:ébc"},
    {"uc belongs to its group", R"({\rtf1{\uc0 x}\u233?y})", "L:xéy"},
    {"surrogate pair", R"({\rtf1\u-10179?\u-8704?})", "L:\U0001F600"},
    {"lone surrogates are replaced", R"({\rtf1\u-10179?x\u-8704?})", "L:\uFFFDx\uFFFD"},
    {"windows-1252", R"({\rtf1\ansi\ansicpg1252 caf\'e9 \'80\'93q\'94\'85})", "L:café €“q”…"},
    {"raw 8-bit bytes use the code page too", "{\\rtf1 caf\xe9}", "L:café"},
    {"a code page without a table", R"({\rtf1\ansicpg949 a\'b0\'a1b})", "L:a\uFFFD\uFFFDb"},
    {"tables and unknown destinations are skipped",
     R"({\rtf1{\fonttbl{\f0\fswiss Arial;}}{\colortbl;\red0\green0\blue0;}{\stylesheet{\s0 Normal;}})"
     R"({\info{\title T}}{\*\unknown zzz{nested}}text})",
     "L:text"},
    {"unknown control words are ignored", R"({\rtf1\foo\bar12 x\zzz-3 y})", "L:xy"},
    {"control symbols", "{\\rtf1 a\\~b\\-c\\_d\\|e}", "L:a\u00A0bc\u2011de"},
    {"backslash before a newline ends the paragraph", "{\\rtf1 a\\\nb}", "L:a\nL:b"},
    {"newlines in text are not characters", "{\\rtf1 a\r\nb}", "L:ab"},
    {"binary data is read past", "{\\rtf1 a\\bin3 {}\\b}", "L:ab"},
    {"named punctuation", R"({\rtf1\ldblquote x\rdblquote\emdash\bullet})", "L:“x”—•"},
    {"control bytes are not text",
     std::string("{\\rtf1 a\x01\x7f"
                 "b}"),
     "L:ab"},
    // Malformed input.
    {"stray closing braces", "}}}a{b", "L:ab"},
    {"truncated hex escape", R"({\rtf1 a\'4)", "L:a"},
    {"invalid hex escape reads as text", R"({\rtf1 \'zz})", "L:zz"},
    {"control word at the very end", R"({\rtf1 a\b)", "L:a"},
    {"over-long control word is ignored", "{\\rtf1 \\" + std::string(40, 'b') + " x}", "L:x"},
    {"over-long parameter saturates", R"({\rtf1\fs99999999999999 a})", "L:[3276]a"},
    {"a dash with no digits", R"({\rtf1\b- x})", "L:[b]x"},
    {"too deep groups are dropped, not followed",
     std::string(200, '{') + "\\b x" + std::string(200, '}') + "y", "L:y"},
    {"deep groups within the cap are read", std::string(100, '{') + "\\b x" + std::string(100, '}') + "y",
     "L:[b]xy"},
    {"empty input", "", ""},
};

void PrintTo(const Case& c, std::ostream* os)
{
    *os << c.name;
}

class RtfReaderCases : public testing::TestWithParam<Case>
{
};

TEST_P(RtfReaderCases, GivesTextAndFormats)
{
    EXPECT_EQ(GetParam().expected, ReadWhole(GetParam().rtf));
}

// Any split into chunks reads the same: byte by byte, and in two at every place.
TEST_P(RtfReaderCases, ChunkSplitDoesNotMatter)
{
    const std::string& rtf = GetParam().rtf;
    const std::string whole = ReadWhole(rtf);

    RtfReader bytewise;
    for (char c : rtf)
        bytewise.Feed(&c, 1);
    bytewise.Finish();
    EXPECT_EQ(whole, Describe(bytewise));

    for (std::size_t cut = 0; cut <= rtf.size(); ++cut) {
        RtfReader r;
        r.Feed(rtf.data(), cut);
        r.Feed(rtf.data() + cut, rtf.size() - cut);
        r.Finish();
        ASSERT_EQ(whole, Describe(r)) << "split at " << cut;
    }
}

INSTANTIATE_TEST_SUITE_P(Table, RtfReaderCases, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<Case>& info) {
                             std::string name;
                             for (const char* p = info.param.name; *p; ++p)
                                 name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
                             return name;
                         });

TEST(RtfReader, PlainTextJoinsParagraphsAndLines)
{
    RtfReader r;
    const std::string rtf = R"({\rtf1{\fonttbl{\f0 Arial;}}\qc\b Title\b0\par\pard a\line b\par c})";
    r.Feed(rtf.data(), rtf.size());
    r.Finish();
    EXPECT_EQ(QStringLiteral("Title\na\nb\nc"), r.PlainText());
}

TEST(RtfReader, FinishEndsTheDocumentAndResetStartsAnew)
{
    RtfReader r;
    r.Feed("{\\rtf1 a", 8);
    r.Finish();
    r.Feed("b}", 2); // after the end: ignored
    r.Finish();
    EXPECT_EQ(QStringLiteral("a"), r.PlainText());

    r.Reset();
    r.Feed("{\\rtf1\\ansicpg949 x}", 19);
    r.Finish();
    EXPECT_EQ(QStringLiteral("x"), r.PlainText());
    EXPECT_EQ(949, r.CodePage());
    r.Reset();
    EXPECT_EQ(1252, r.CodePage());
    EXPECT_TRUE(r.Paragraphs().empty());
}

} // namespace
