#include "messages/byte_text.h"

#include "platform/strings.h"

#include <QLocale>

namespace {

int HexValue(QChar c)
{
    const char16_t u = c.unicode();
    if (u >= '0' && u <= '9')
        return u - '0';
    if (u >= 'a' && u <= 'f')
        return u - 'a' + 10;
    if (u >= 'A' && u <= 'F')
        return u - 'A' + 10;
    return -1;
}

constexpr char kHexDigits[] = "0123456789ABCDEF";

// The escapes of text besides \xHH, each way.
struct Escape
{
    char letter;
    char byte;
};
constexpr Escape kEscapes[] = {{'r', '\r'}, {'n', '\n'}, {'t', '\t'}, {'0', '\0'}, {'\\', '\\'}, {'{', '{'}};

const Escape* EscapeOfLetter(QChar letter)
{
    for (const Escape& e : kEscapes) {
        if (letter == QLatin1Char(e.letter))
            return &e;
    }
    return nullptr;
}

const Escape* EscapeOfByte(unsigned char b)
{
    for (const Escape& e : kEscapes) {
        if (b == static_cast<unsigned char>(e.byte))
            return &e;
    }
    return nullptr;
}

// A field's text shown in a message is cut to this many characters.
constexpr qsizetype kFieldShown = 32;

// UTF-16 units of the character at `i`: 2 for a whole surrogate pair.
qsizetype CharacterUnits(QStringView text, qsizetype i)
{
    return i + 1 < text.size() && text[i].isHighSurrogate() && text[i + 1].isLowSurrogate() ? 2 : 1;
}

// Both forms: the bytes so far, the fields, or the first fault.
class Parser
{
public:
    Parser(QStringView text, qsizetype limit, FieldUse use) : m_text(text), m_use(use), m_limit(limit)
    {
        m_parse.limit = limit;
        m_parse.bytes.reserve(std::min<qsizetype>(text.size(), limit));
    }

    ByteTextParse Take() { return std::move(m_parse); }

    ByteTextParse Failed(ByteTextError error, qsizetype position, qsizetype length)
    {
        ByteTextParse fault;
        fault.error = error;
        fault.position = position;
        fault.length = length;
        fault.limit = m_limit;
        return fault;
    }

    // `units` of the text at `at` give `bytes`; false when they would not fit.
    bool Append(QByteArrayView bytes, qsizetype at, qsizetype units)
    {
        if (m_parse.bytes.size() + bytes.size() > m_limit) {
            m_parse = Failed(ByteTextError::TooLong, at, units);
            return false;
        }
        m_parse.bytes.append(bytes);
        return true;
    }
    bool Append(char byte, qsizetype at, qsizetype units)
    {
        return Append(QByteArrayView(&byte, 1), at, units);
    }

    // The field whose brace is at `at`: the units it takes, or 0 after a
    // fault.
    qsizetype Field(qsizetype at)
    {
        const qsizetype close = m_text.indexOf(u'}', at + 1);
        const qsizetype units = close < 0 ? 1 : close - at + 1;
        ByteTextError error = ByteTextError::None;
        FieldSpelling spelling;
        if (m_use == FieldUse::Refused) {
            error = ByteTextError::FieldNotAllowed;
        } else if (close < 0) {
            error = ByteTextError::UnclosedField;
        } else {
            spelling = ParseFieldName(m_text.sliced(at + 1, units - 2));
            if (spelling.orderOnOneByte)
                error = ByteTextError::OrderOnOneByte;
            else if (!spelling.field)
                error = ByteTextError::UnknownField;
        }
        if (error != ByteTextError::None) {
            m_parse = Failed(error, at, units);
            return 0;
        }
        ByteField field = *spelling.field;
        field.offset = m_parse.bytes.size();
        field.from = field.kind == FieldKind::Sequence ? field.offset : m_checksumEnd;
        if (!Append(QByteArray(field.width, '\0'), at, units))
            return 0;
        if (field.kind != FieldKind::Sequence)
            m_checksumEnd = field.offset + field.width;
        m_parse.fields.push_back(field);
        return units;
    }

private:
    QStringView m_text;
    FieldUse m_use;
    qsizetype m_limit;
    ByteTextParse m_parse;
    // Where the bytes of the next checksum begin.
    qsizetype m_checksumEnd = 0;
};

} // namespace

ByteTextParse ParseHexBytes(QStringView text, qsizetype limit, FieldUse use)
{
    Parser parser(text, limit, use);
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n;) {
        const QChar c = text[i];
        if (c.isSpace()) {
            ++i;
            continue;
        }
        if (c == u'{') {
            const qsizetype units = parser.Field(i);
            if (units == 0)
                return parser.Take();
            i += units;
            continue;
        }
        const int high = HexValue(c);
        if (high < 0)
            return parser.Failed(ByteTextError::NotHexDigit, i, CharacterUnits(text, i));
        if (i + 1 >= n || text[i + 1].isSpace() || text[i + 1] == u'{')
            return parser.Failed(ByteTextError::LoneHexDigit, i, 1);
        const int low = HexValue(text[i + 1]);
        if (low < 0)
            return parser.Failed(ByteTextError::NotHexDigit, i + 1, CharacterUnits(text, i + 1));
        // Digits run on without blanks ("0203") as pairs; a third digit of a
        // run is the start of the next pair.
        if (!parser.Append(static_cast<char>(high << 4 | low), i, 2))
            return parser.Take();
        i += 2;
    }
    return parser.Take();
}

ByteTextParse ParseEscapedBytes(QStringView text, qsizetype limit, FieldUse use)
{
    Parser parser(text, limit, use);
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n;) {
        const QChar c = text[i];
        if (c.unicode() >= 0x80) {
            // As UTF-8; a surrogate pair is one character, half of one has none.
            const qsizetype units = CharacterUnits(text, i);
            if (units == 1 && c.isSurrogate())
                return parser.Failed(ByteTextError::LoneSurrogate, i, 1);
            if (!parser.Append(text.sliced(i, units).toUtf8(), i, units))
                return parser.Take();
            i += units;
            continue;
        }
        if (c == u'{') {
            const qsizetype units = parser.Field(i);
            if (units == 0)
                return parser.Take();
            i += units;
            continue;
        }
        int byte = c.unicode();
        qsizetype units = 1;
        if (c == u'\\') {
            if (i + 1 >= n)
                return parser.Failed(ByteTextError::TrailingBackslash, i, 1);
            units = 2;
            const QChar letter = text[i + 1];
            if (letter == u'x') {
                const int high = i + 2 < n ? HexValue(text[i + 2]) : -1;
                const int low = i + 3 < n ? HexValue(text[i + 3]) : -1;
                if (high < 0 || low < 0)
                    return parser.Failed(ByteTextError::BadHexEscape, i, std::min<qsizetype>(4, n - i));
                byte = high << 4 | low;
                units = 4;
            } else if (const Escape* escape = EscapeOfLetter(letter)) {
                byte = static_cast<unsigned char>(escape->byte);
            } else {
                return parser.Failed(ByteTextError::UnknownEscape, i, 1 + CharacterUnits(text, i + 1));
            }
        }
        if (!parser.Append(static_cast<char>(byte), i, units))
            return parser.Take();
        i += units;
    }
    return parser.Take();
}

ByteTextParse ParseBytes(ByteForm form, QStringView text, qsizetype limit, FieldUse use)
{
    return form == ByteForm::Hex ? ParseHexBytes(text, limit, use) : ParseEscapedBytes(text, limit, use);
}

namespace {

void AppendHex(QString& out, unsigned char b)
{
    out += QLatin1Char(kHexDigits[b >> 4]);
    out += QLatin1Char(kHexDigits[b & 0xF]);
}

void AppendEscaped(QString& out, unsigned char b)
{
    if (const Escape* escape = EscapeOfByte(b)) {
        out += u'\\';
        out += QLatin1Char(escape->letter);
    } else if (b >= 0x20 && b < 0x7F) {
        out += QLatin1Char(static_cast<char>(b));
    } else {
        out += QLatin1String("\\x");
        AppendHex(out, b);
    }
}

// Both forms, with or without fields: in hex a blank between tokens and,
// with `bytesPerLine`, a line break once a line holds that many bytes.
QString Format(ByteForm form, const QByteArray& bytes, const std::vector<ByteField>& fields,
               qsizetype maxBytes, int bytesPerLine)
{
    const bool cut = maxBytes >= 0 && bytes.size() > maxBytes;
    const qsizetype end = cut ? maxBytes : bytes.size();
    const bool hex = form == ByteForm::Hex;
    QString out;
    out.reserve(hex ? end * 3 + 2 : end + end / 4);
    qsizetype onLine = 0;
    const auto separate = [&](qsizetype tokenBytes) {
        const bool breakLine = bytesPerLine > 0 && onLine >= bytesPerLine;
        if (hex && !out.isEmpty())
            out += breakLine ? u'\n' : u' ';
        onLine = (breakLine ? 0 : onLine) + tokenBytes;
    };
    auto field = fields.begin();
    for (qsizetype at = 0; at < end;) {
        if (field != fields.end() && field->offset == at) {
            separate(field->width);
            out += u'{' + FieldName(*field) + u'}';
            at += field->width;
            ++field;
            continue;
        }
        const auto b = static_cast<unsigned char>(bytes[at++]);
        if (hex) {
            separate(1);
            AppendHex(out, b);
        } else {
            AppendEscaped(out, b);
        }
    }
    if (cut)
        out += hex ? QStringLiteral(" …") : QStringLiteral("…");
    return out;
}

} // namespace

QString FormatHexBytes(const QByteArray& bytes, qsizetype maxBytes, int bytesPerLine)
{
    return Format(ByteForm::Hex, bytes, {}, maxBytes, bytesPerLine);
}

QString FormatEscapedBytes(const QByteArray& bytes, qsizetype maxBytes)
{
    return Format(ByteForm::Text, bytes, {}, maxBytes, 0);
}

QString FormatBytes(ByteForm form, const QByteArray& bytes, qsizetype maxBytes)
{
    return Format(form, bytes, {}, maxBytes, 0);
}

QString FormatTemplate(ByteForm form, const ByteTemplate& bytes, qsizetype maxBytes, int bytesPerLine)
{
    return Format(form, bytes.Literal(), bytes.Fields(), maxBytes, bytesPerLine);
}

namespace {

// The 1-based number of the character at UTF-16 index `position`, as people
// count them: a surrogate pair is one.
qsizetype CharacterNumber(QStringView text, qsizetype position)
{
    const qsizetype end = std::min(position, text.size());
    qsizetype number = 1;
    for (qsizetype i = 0; i < end; i += CharacterUnits(text, i))
        ++number;
    return number;
}

QString CharacterAt(QStringView text, qsizetype position)
{
    return position < text.size() ? text.sliced(position, CharacterUnits(text, position)).toString()
                                  : QString();
}

} // namespace

QString ByteTextErrorMessage(const ByteTextParse& parse, QStringView text)
{
    const QString place = QString::number(CharacterNumber(text, parse.position));
    const QString at = CharacterAt(text, parse.position);
    const auto fieldText = [&] {
        const QStringView field = text.mid(parse.position, parse.length);
        return field.size() > kFieldShown ? field.first(kFieldShown).toString() + u'…' : field.toString();
    };
    switch (parse.error) {
    case ByteTextError::None:
        return {};
    case ByteTextError::NotHexDigit:
        return LoadStr(245).arg(place, at);
    case ByteTextError::LoneHexDigit:
        return LoadStr(246).arg(place);
    case ByteTextError::TrailingBackslash:
        return LoadStr(247).arg(place);
    case ByteTextError::BadHexEscape:
        return LoadStr(248).arg(place);
    case ByteTextError::UnknownEscape:
        return LoadStr(249).arg(place, CharacterAt(text, parse.position + 1));
    case ByteTextError::TooLong:
        return LoadStr(250).arg(place, QLocale(QLocale::English).toString(parse.limit));
    case ByteTextError::Empty:
        return LoadStr(251);
    case ByteTextError::UnclosedField:
        return LoadStr(350).arg(place);
    case ByteTextError::UnknownField:
        return LoadStr(351).arg(place, fieldText());
    case ByteTextError::OrderOnOneByte:
        return LoadStr(352).arg(place, fieldText());
    case ByteTextError::FieldNotAllowed:
        return LoadStr(353).arg(place);
    case ByteTextError::LoneSurrogate:
        return LoadStr(354).arg(place, QString::number(text[parse.position].unicode(), 16).toUpper());
    }
    return {};
}

QString ByteTextErrorHint(const ByteTextParse& parse)
{
    return parse.error == ByteTextError::UnknownField ? LoadStr(358) : QString();
}
