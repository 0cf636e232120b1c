#include "ui/rtf_reader.h"

#include <algorithm>
#include <array>
#include <string_view>

namespace {

constexpr char16_t kReplacement = 0xFFFD;
constexpr char16_t kLineSeparator = 0x2028;

// Windows-1252 between 0x80 and 0x9F; the rest of its upper half is Latin-1.
constexpr std::array<char16_t, 32> kCp1252High = {
    0x20AC, 0xFFFD, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0xFFFD, 0x017D, 0xFFFD, 0xFFFD, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0xFFFD, 0x017E, 0x0178,
};

char16_t DecodeByte(unsigned char b, int codePage)
{
    if (b < 0x80)
        return b;
    switch (codePage) {
    case 1252:
        return b < 0xA0 ? kCp1252High[b - 0x80] : char16_t(b);
    case 28591:
        return b;
    default:
        // A code page we carry no table for (multi-byte ones included).
        return kReplacement;
    }
}

// Groups whose content is never shown.
constexpr std::array<std::string_view, 24> kSkippedDestinations = {
    "fonttbl",
    "colortbl",
    "stylesheet",
    "info",
    "pict",
    "object",
    "header",
    "headerl",
    "headerr",
    "headerf",
    "footer",
    "footerl",
    "footerr",
    "footerf",
    "fldinst",
    "listtable",
    "listoverridetable",
    "revtbl",
    "rsidtbl",
    "generator",
    "themedata",
    "colorschememapping",
    "latentstyles",
    "datastore",
};

struct NamedChar
{
    std::string_view word;
    char16_t unit;
};

constexpr std::array<NamedChar, 10> kNamedChars = {{
    {"tab", u'\t'},
    {"emdash", 0x2014},
    {"endash", 0x2013},
    {"bullet", 0x2022},
    {"lquote", 0x2018},
    {"rquote", 0x2019},
    {"ldblquote", 0x201C},
    {"rdblquote", 0x201D},
    {"emspace", 0x2003},
    {"enspace", 0x2002},
}};

bool IsLetter(unsigned char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool IsDigit(unsigned char c)
{
    return c >= '0' && c <= '9';
}

int HexValue(unsigned char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool IsHighSurrogate(char16_t u)
{
    return u >= 0xD800 && u <= 0xDBFF;
}

bool IsLowSurrogate(char16_t u)
{
    return u >= 0xDC00 && u <= 0xDFFF;
}

int ClampToInt(long long v, int lo, int hi)
{
    return static_cast<int>(std::clamp<long long>(v, lo, hi));
}

} // namespace

QString RtfParagraph::Text() const
{
    QString text;
    for (const RtfRun& run : runs)
        text += run.text;
    text.replace(QChar(kLineSeparator), QLatin1Char('\n'));
    return text;
}

RtfReader::RtfReader()
{
    Reset();
}

void RtfReader::Reset()
{
    m_lex = Lex::Text;
    m_groups.assign(1, Group{});
    m_nOverflow = 0;
    m_word.clear();
    m_bWordTooLong = false;
    m_bParamNegative = false;
    m_bHasParam = false;
    m_nParamDigits = 0;
    m_nParam = 0;
    m_nHexHigh = 0;
    m_nBinaryLeft = 0;
    m_nSkipFallback = 0;
    m_pendingHigh = 0;
    m_nCodePage = 1252;
    m_bFinished = false;
    m_current = RtfParagraph{};
    m_paragraphs.clear();
}

void RtfReader::Feed(const char* data, std::size_t size)
{
    if (m_bFinished || !data)
        return;
    for (std::size_t i = 0; i < size; ++i)
        Byte(static_cast<unsigned char>(data[i]));
}

void RtfReader::Finish()
{
    if (m_bFinished)
        return;
    if (m_lex == Lex::Word || m_lex == Lex::Param) {
        m_lex = Lex::Text;
        ControlWord();
    }
    m_lex = Lex::Text;
    FlushSurrogate();
    if (!m_current.runs.empty()) { // formatted as it was at its last character
        m_paragraphs.push_back(std::move(m_current));
        m_current = RtfParagraph{};
    }
    m_bFinished = true;
}

QString RtfReader::PlainText() const
{
    QString text;
    for (std::size_t i = 0; i < m_paragraphs.size(); ++i) {
        if (i)
            text += QLatin1Char('\n');
        text += m_paragraphs[i].Text();
    }
    return text;
}

// One byte of input. A byte that ends a control word is read again as text,
// hence the loop; every pass either returns or changes the lexer state to Text.
void RtfReader::Byte(unsigned char c)
{
    for (;;) {
        switch (m_lex) {
        case Lex::Text:
            if (c == '{')
                PushGroup();
            else if (c == '}')
                PopGroup();
            else if (c == '\\')
                m_lex = Lex::Escape;
            else if (c != '\r' && c != '\n')
                TextByte(c);
            return;

        case Lex::Escape:
            if (IsLetter(c)) {
                m_word.assign(1, static_cast<char>(c));
                m_bWordTooLong = false;
                m_bHasParam = false;
                m_bParamNegative = false;
                m_nParamDigits = 0;
                m_nParam = 0;
                m_lex = Lex::Word;
            } else if (c == '\'') {
                m_lex = Lex::Hex1;
            } else {
                m_lex = Lex::Text;
                ControlSymbol(c);
            }
            return;

        case Lex::Word:
            if (IsLetter(c)) {
                if (m_word.size() < kMaxWordLength)
                    m_word.push_back(static_cast<char>(c));
                else
                    m_bWordTooLong = true;
                return;
            }
            if (IsDigit(c) || c == '-') {
                m_lex = Lex::Param;
                if (c == '-') {
                    m_bParamNegative = true;
                    return;
                }
                continue; // the digit is read in Param
            }
            m_lex = Lex::Text;
            ControlWord();
            if (c == ' ')
                return; // the delimiter belongs to the word
            continue;

        case Lex::Param:
            if (IsDigit(c)) {
                m_bHasParam = true;
                if (m_nParamDigits < kMaxParamDigits) {
                    m_nParam = m_nParam * 10 + (c - '0');
                    ++m_nParamDigits;
                }
                return;
            }
            m_lex = Lex::Text;
            ControlWord();
            if (c == ' ')
                return;
            continue;

        case Lex::Hex1: {
            const int v = HexValue(c);
            if (v < 0) { // not an escape after all; read the byte as it is
                m_lex = Lex::Text;
                continue;
            }
            m_nHexHigh = v;
            m_lex = Lex::Hex2;
            return;
        }

        case Lex::Hex2: {
            const int v = HexValue(c);
            m_lex = Lex::Text;
            if (v < 0)
                continue;
            const auto b = static_cast<unsigned char>(m_nHexHigh * 16 + v);
            if (SkipFallback() || Skipping())
                return;
            EmitCodePoint(DecodeByte(b, m_nCodePage));
            return;
        }

        case Lex::Binary:
            if (--m_nBinaryLeft == 0)
                m_lex = Lex::Text;
            return;
        }
        return;
    }
}

void RtfReader::PushGroup()
{
    m_nSkipFallback = 0;
    if (m_nOverflow > 0 || m_groups.size() > kMaxGroupDepth) {
        ++m_nOverflow;
        return;
    }
    m_groups.push_back(Top());
}

void RtfReader::PopGroup()
{
    m_nSkipFallback = 0;
    if (m_nOverflow > 0)
        --m_nOverflow;
    else if (m_groups.size() > 1) // a stray '}' cannot close the outside
        m_groups.pop_back();
}

bool RtfReader::Skipping() const
{
    return m_nOverflow > 0 || m_groups.back().skip;
}

bool RtfReader::SkipFallback()
{
    if (m_nSkipFallback <= 0)
        return false;
    --m_nSkipFallback;
    return true;
}

void RtfReader::ControlSymbol(unsigned char c)
{
    if (c == '*') {
        if (m_nOverflow == 0)
            Top().skip = true;
        return;
    }
    if (SkipFallback() || Skipping())
        return;
    switch (c) {
    case '\\':
    case '{':
    case '}':
        EmitCodePoint(c);
        break;
    case '~':
        EmitCodePoint(0x00A0);
        break;
    case '_':
        EmitCodePoint(0x2011);
        break;
    case '\r':
    case '\n':
        EndParagraph();
        break;
    default: // \- (optional hyphen), \: (index entry) and unknown symbols show nothing
        break;
    }
}

void RtfReader::ControlWord()
{
    const std::string_view w = m_word;
    const long long raw = m_bParamNegative ? -m_nParam : m_nParam;
    const bool hasParam = m_bHasParam;
    const int param = ClampToInt(raw, -2147483647 - 1, 2147483647);

    if (m_bWordTooLong) {
        SkipFallback();
        return;
    }
    if (w == "bin") {
        // Raw data follows; it is read past, never as text or markup.
        SkipFallback();
        if (hasParam && raw > 0) {
            m_nBinaryLeft = static_cast<std::uint64_t>(raw);
            m_lex = Lex::Binary;
        }
        return;
    }
    if (SkipFallback() || Skipping())
        return;
    if (std::find(kSkippedDestinations.begin(), kSkippedDestinations.end(), w) !=
        kSkippedDestinations.end()) {
        Top().skip = true;
        return;
    }

    Group& g = Top();
    const bool on = !hasParam || param != 0;
    if (w == "par" || w == "sect" || w == "page") {
        EndParagraph();
    } else if (w == "line") {
        EmitCodePoint(kLineSeparator);
    } else if (w == "b") {
        g.format.bold = on;
    } else if (w == "i") {
        g.format.italic = on;
    } else if (w == "ul") {
        g.format.underline = on;
    } else if (w == "ulnone") {
        g.format.underline = false;
    } else if (w == "fs") {
        g.format.halfPoints = hasParam && param > 0 ? std::min(param, 3276) : RtfCharFormat{}.halfPoints;
    } else if (w == "plain") {
        g.format = RtfCharFormat{};
    } else if (w == "pard") {
        g.paragraph = RtfParagraphFormat{};
    } else if (w == "ql") {
        g.paragraph.alignment = RtfAlignment::Left;
    } else if (w == "qc") {
        g.paragraph.alignment = RtfAlignment::Center;
    } else if (w == "qr") {
        g.paragraph.alignment = RtfAlignment::Right;
    } else if (w == "qj") {
        g.paragraph.alignment = RtfAlignment::Justify;
    } else if (w == "sb") {
        g.paragraph.spaceBefore = std::clamp(param, 0, 31680); // at most 22 inches
    } else if (w == "sa") {
        g.paragraph.spaceAfter = std::clamp(param, 0, 31680);
    } else if (w == "uc") {
        g.uc = hasParam ? std::clamp(param, 0, 255) : 1;
    } else if (w == "u") {
        if (hasParam)
            UnicodeChar(raw);
    } else if (w == "ansi") {
        m_nCodePage = 1252;
    } else if (w == "ansicpg") {
        if (hasParam)
            m_nCodePage = param;
    } else if (w == "mac") {
        m_nCodePage = 10000;
    } else if (w == "pc") {
        m_nCodePage = 437;
    } else if (w == "pca") {
        m_nCodePage = 850;
    } else {
        for (const NamedChar& n : kNamedChars) {
            if (w == n.word) {
                EmitCodePoint(n.unit);
                break;
            }
        }
    }
}

void RtfReader::TextByte(unsigned char c)
{
    if (c < 0x20 && c != '\t')
        return; // control bytes are not text
    if (SkipFallback() || Skipping())
        return;
    EmitCodePoint(DecodeByte(c, m_nCodePage));
}

void RtfReader::UnicodeChar(long value)
{
    // \u takes a signed 16-bit value; negative ones stand for the upper half.
    if (value < 0)
        value += 65536;
    EmitCodePoint(value >= 0 && value <= 0xFFFF ? char16_t(value) : kReplacement);
    m_nSkipFallback = Top().uc;
}

void RtfReader::EmitCodePoint(char16_t unit)
{
    if (IsHighSurrogate(unit)) {
        FlushSurrogate();
        m_pendingHigh = unit;
        return;
    }
    if (IsLowSurrogate(unit)) {
        if (m_pendingHigh) {
            Emit(m_pendingHigh);
            Emit(unit);
            m_pendingHigh = 0;
        } else {
            Emit(kReplacement);
        }
        return;
    }
    FlushSurrogate();
    if ((unit < 0x20 && unit != u'\t') || unit == 0x7F)
        return;
    if (unit == 0xFFFE || unit == 0xFFFF)
        unit = kReplacement;
    Emit(unit);
}

void RtfReader::FlushSurrogate()
{
    if (m_pendingHigh) {
        m_pendingHigh = 0;
        Emit(kReplacement);
    }
}

void RtfReader::Emit(char16_t unit)
{
    const RtfCharFormat& format = Top().format;
    m_current.format = Top().paragraph;
    if (m_current.runs.empty() || !(m_current.runs.back().format == format))
        m_current.runs.push_back(RtfRun{format, QString()});
    m_current.runs.back().text += QChar(unit);
}

void RtfReader::EndParagraph()
{
    FlushSurrogate();
    m_current.format = Top().paragraph;
    m_paragraphs.push_back(std::move(m_current));
    m_current = RtfParagraph{};
}
