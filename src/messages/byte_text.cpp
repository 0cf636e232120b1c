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

ByteTextParse Fault(ByteTextError error, qsizetype position, qsizetype length, qsizetype limit)
{
    ByteTextParse parse;
    parse.error = error;
    parse.position = position;
    parse.length = length;
    parse.limit = limit;
    return parse;
}

constexpr char kHexDigits[] = "0123456789ABCDEF";

} // namespace

ByteTextParse ParseHexBytes(QStringView text, qsizetype limit)
{
    ByteTextParse parse;
    parse.limit = limit;
    parse.bytes.reserve(std::min<qsizetype>(text.size() / 2 + 1, limit));
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n;) {
        if (text[i].isSpace()) {
            ++i;
            continue;
        }
        const int high = HexValue(text[i]);
        if (high < 0)
            return Fault(ByteTextError::NotHexDigit, i, 1, limit);
        if (i + 1 >= n || text[i + 1].isSpace())
            return Fault(ByteTextError::LoneHexDigit, i, 1, limit);
        const int low = HexValue(text[i + 1]);
        if (low < 0)
            return Fault(ByteTextError::NotHexDigit, i + 1, 1, limit);
        // Digits run on without blanks ("0203") as pairs; a third digit of a
        // run is the start of the next pair.
        if (parse.bytes.size() >= limit)
            return Fault(ByteTextError::TooLong, i, 2, limit);
        parse.bytes.append(static_cast<char>(high << 4 | low));
        i += 2;
    }
    return parse;
}

ByteTextParse ParseEscapedBytes(QStringView text, qsizetype limit)
{
    ByteTextParse parse;
    parse.limit = limit;
    parse.bytes.reserve(std::min<qsizetype>(text.size(), limit));
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n;) {
        const QChar c = text[i];
        if (c.unicode() >= 0x80) {
            // As UTF-8; a surrogate pair is one character.
            const qsizetype units = c.isHighSurrogate() && i + 1 < n && text[i + 1].isLowSurrogate() ? 2 : 1;
            const QByteArray utf8 = text.mid(i, units).toUtf8();
            if (parse.bytes.size() + utf8.size() > limit)
                return Fault(ByteTextError::TooLong, i, units, limit);
            parse.bytes.append(utf8);
            i += units;
            continue;
        }
        int byte = c.unicode();
        qsizetype units = 1;
        if (c == u'\\') {
            if (i + 1 >= n)
                return Fault(ByteTextError::TrailingBackslash, i, 1, limit);
            units = 2;
            switch (text[i + 1].unicode()) {
            case 'r':
                byte = '\r';
                break;
            case 'n':
                byte = '\n';
                break;
            case 't':
                byte = '\t';
                break;
            case '0':
                byte = 0;
                break;
            case '\\':
                byte = '\\';
                break;
            case 'x': {
                const int high = i + 2 < n ? HexValue(text[i + 2]) : -1;
                const int low = i + 3 < n ? HexValue(text[i + 3]) : -1;
                if (high < 0 || low < 0)
                    return Fault(ByteTextError::BadHexEscape, i, std::min<qsizetype>(4, n - i), limit);
                byte = high << 4 | low;
                units = 4;
                break;
            }
            default:
                return Fault(ByteTextError::UnknownEscape, i, 2, limit);
            }
        }
        if (parse.bytes.size() >= limit)
            return Fault(ByteTextError::TooLong, i, units, limit);
        parse.bytes.append(static_cast<char>(byte));
        i += units;
    }
    return parse;
}

ByteTextParse ParseBytes(ByteForm form, QStringView text, qsizetype limit)
{
    return form == ByteForm::Hex ? ParseHexBytes(text, limit) : ParseEscapedBytes(text, limit);
}

QString FormatHexBytes(const QByteArray& bytes, qsizetype maxBytes, int bytesPerLine)
{
    const bool cut = maxBytes >= 0 && bytes.size() > maxBytes;
    const qsizetype n = cut ? maxBytes : bytes.size();
    QString out;
    out.reserve(n * 3 + 2);
    for (qsizetype i = 0; i < n; ++i) {
        if (i > 0)
            out += bytesPerLine > 0 && i % bytesPerLine == 0 ? u'\n' : u' ';
        const auto b = static_cast<unsigned char>(bytes[i]);
        out += QLatin1Char(kHexDigits[b >> 4]);
        out += QLatin1Char(kHexDigits[b & 0xF]);
    }
    if (cut)
        out += QStringLiteral(" …");
    return out;
}

QString FormatEscapedBytes(const QByteArray& bytes, qsizetype maxBytes)
{
    const bool cut = maxBytes >= 0 && bytes.size() > maxBytes;
    const qsizetype n = cut ? maxBytes : bytes.size();
    QString out;
    out.reserve(n + n / 4);
    for (qsizetype i = 0; i < n; ++i) {
        const auto b = static_cast<unsigned char>(bytes[i]);
        switch (b) {
        case '\r':
            out += QLatin1String("\\r");
            break;
        case '\n':
            out += QLatin1String("\\n");
            break;
        case '\t':
            out += QLatin1String("\\t");
            break;
        case '\0':
            out += QLatin1String("\\0");
            break;
        case '\\':
            out += QLatin1String("\\\\");
            break;
        default:
            if (b >= 0x20 && b < 0x7F) {
                out += QLatin1Char(static_cast<char>(b));
            } else {
                out += QLatin1String("\\x");
                out += QLatin1Char(kHexDigits[b >> 4]);
                out += QLatin1Char(kHexDigits[b & 0xF]);
            }
        }
    }
    if (cut)
        out += QStringLiteral("…");
    return out;
}

QString FormatBytes(ByteForm form, const QByteArray& bytes, qsizetype maxBytes)
{
    return form == ByteForm::Hex ? FormatHexBytes(bytes, maxBytes) : FormatEscapedBytes(bytes, maxBytes);
}

QString ByteTextErrorMessage(const ByteTextParse& parse, QStringView text)
{
    const QString place = QString::number(parse.position + 1);
    const QString at = parse.position < text.size() ? text.mid(parse.position, 1).toString() : QString();
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
    case ByteTextError::UnknownEscape: {
        const qsizetype next = parse.position + 1;
        return LoadStr(249).arg(place, next < text.size() ? text.mid(next, 1).toString() : QString());
    }
    case ByteTextError::TooLong:
        return LoadStr(250).arg(place, QLocale(QLocale::English).toString(parse.limit));
    case ByteTextError::Empty:
        return LoadStr(251);
    }
    return {};
}
