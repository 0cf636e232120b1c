#include "cli/cli_script.h"

#include <algorithm>
#include <iterator>

namespace {

struct Word
{
    QString text;
    CliPlace place;
    // Where the word's characters begin in its line (after an opening quote),
    // so that a fault inside the data is pointed at.
    int textColumn = 0;
};

struct KindName
{
    CliStepKind kind;
    const char* name;
};
const KindName kKinds[] = {
    {CliStepKind::Connect, "connect"},
    {CliStepKind::Listen, "listen"},
    {CliStepKind::Udp, "udp"},
    {CliStepKind::Send, "send"},
    {CliStepKind::SendFile, "send-file"},
    {CliStepKind::Message, "message"},
    {CliStepKind::Expect, "expect"},
    {CliStepKind::ExpectNothing, "expect-nothing"},
    {CliStepKind::ExpectClose, "expect-close"},
    {CliStepKind::Wait, "wait"},
    {CliStepKind::Serve, "serve"},
};

std::optional<CliStepKind> KindOf(const QString& word)
{
    for (const KindName& k : kKinds) {
        if (word == QLatin1String(k.name))
            return k.kind;
    }
    return std::nullopt;
}

struct WhenWord
{
    const char* word;
    ReplyWhen when;
};
const WhenWord kWhenWords[] = {
    {"contains", ReplyWhen::Contains},
    {"starts", ReplyWhen::StartsWith},
    {"equals", ReplyWhen::Equals},
    {"ends", ReplyWhen::EndsWith},
};

// Reads one step from `words` at `at`; `lineEnd`: the words of a script's
// line end there, so a step may not run past it.
class StepReader
{
public:
    StepReader(const std::vector<Word>& words, std::size_t at, std::size_t end)
        : m_words(words), m_at(at), m_end(end)
    {
    }

    std::optional<CliScriptError> Read(CliStep& step);
    std::size_t Position() const { return m_at; }

private:
    bool More() const { return m_at < m_end; }
    // The next word is one more argument of this step (not the next step's
    // name).
    bool NextIsArgument() const { return More() && !KindOf(m_words[m_at].text); }
    const Word& Peek() const { return m_words[m_at]; }
    CliPlace Here() const
    {
        if (More())
            return m_words[m_at].place;
        // Just past the last word.
        const Word& last = m_words[m_at - 1];
        return {last.place.line, last.place.line == 0 ? last.place.column + 1
                                                      : last.textColumn + static_cast<int>(last.text.size())};
    }
    CliScriptError Error(const QString& message) const { return {Here(), message}; }

    std::optional<CliScriptError> Argument(const char* what, const Word** out);
    std::optional<CliScriptError> Port(const char* what, unsigned min, unsigned& port);
    std::optional<CliScriptError> Milliseconds(int& ms);
    // An optional "within MS" (or "for MS" for serve).
    std::optional<CliScriptError> OptionalTime(const char* keyword, int& ms);
    std::optional<CliScriptError> Data(CliStep& step, FieldUse fields);

    const std::vector<Word>& m_words;
    std::size_t m_at;
    std::size_t m_end;
};

std::optional<CliScriptError> StepReader::Argument(const char* what, const Word** out)
{
    if (!NextIsArgument())
        return Error(QStringLiteral("%1 expected").arg(QLatin1String(what)));
    *out = &m_words[m_at++];
    return std::nullopt;
}

std::optional<CliScriptError> StepReader::Port(const char* what, unsigned min, unsigned& port)
{
    if (!NextIsArgument())
        return Error(QStringLiteral("%1 expected").arg(QLatin1String(what)));
    bool ok = false;
    const unsigned value = Peek().text.toUInt(&ok);
    if (!ok || value < min || value > 65535)
        return Error(QStringLiteral("%1 must be a number from %2 to 65535, not '%3'")
                         .arg(QLatin1String(what))
                         .arg(min)
                         .arg(Peek().text));
    port = value;
    ++m_at;
    return std::nullopt;
}

std::optional<CliScriptError> StepReader::Milliseconds(int& ms)
{
    if (!More())
        return Error(QStringLiteral("milliseconds expected"));
    bool ok = false;
    const qlonglong value = Peek().text.toLongLong(&ok);
    if (!ok || value < 0 || value > CLI_MS_MAX)
        return Error(QStringLiteral("milliseconds must be a number from 0 to %1, not '%2'")
                         .arg(CLI_MS_MAX)
                         .arg(Peek().text));
    ms = static_cast<int>(value);
    ++m_at;
    return std::nullopt;
}

std::optional<CliScriptError> StepReader::OptionalTime(const char* keyword, int& ms)
{
    if (!More() || Peek().text != QLatin1String(keyword))
        return std::nullopt;
    ++m_at;
    return Milliseconds(ms);
}

std::optional<CliScriptError> StepReader::Data(CliStep& step, FieldUse fields)
{
    if (More() && Peek().text == QLatin1String("-x")) {
        step.form = ByteForm::Hex;
        ++m_at;
    }
    // Data may be any word, a step's name too: it always follows.
    if (!More())
        return Error(QStringLiteral("data expected"));
    const Word& word = m_words[m_at];
    const ByteTextParse parse = ParseBytes(step.form, word.text, BYTE_TEXT_MAX, fields);
    if (!parse.Ok()) {
        CliPlace place = word.place;
        if (place.line != 0)
            place.column = word.textColumn + static_cast<int>(parse.position);
        QString message = ByteTextErrorMessage(parse, word.text);
        if (parse.error == ByteTextError::FieldNotAllowed)
            message =
                QStringLiteral("fields are computed for what is sent; an expected string is literal bytes "
                               "(write \\{ for a brace)");
        return CliScriptError{place, message};
    }
    if (parse.bytes.isEmpty())
        return CliScriptError{word.place, QStringLiteral("no bytes in '%1'").arg(word.text)};
    step.bytes = parse.Template();
    ++m_at;
    return std::nullopt;
}

std::optional<CliScriptError> StepReader::Read(CliStep& step)
{
    const Word& first = m_words[m_at];
    const auto kind = KindOf(first.text);
    if (!kind)
        return CliScriptError{first.place,
                              QStringLiteral("'%1' is not a step (%2)")
                                  .arg(first.text, QStringLiteral("connect, listen, udp, send, "
                                                                  "send-file, message, expect, "
                                                                  "expect-nothing, expect-close, "
                                                                  "wait, serve"))};
    step.kind = *kind;
    step.place = first.place;
    ++m_at;
    const Word* word = nullptr;
    switch (step.kind) {
    case CliStepKind::Connect:
        if (auto e = Argument("HOST", &word))
            return e;
        step.host = word->text;
        if (auto e = Port("PORT", 1, step.port))
            return e;
        step.ms = CLI_CONNECT_WITHIN_MS;
        return OptionalTime("within", step.ms);
    case CliStepKind::Listen:
        if (auto e = Port("PORT", 0, step.port))
            return e;
        step.ms = CLI_LISTEN_WITHIN_MS;
        return OptionalTime("within", step.ms);
    case CliStepKind::Udp:
        if (auto e = Port("LOCAL_PORT", 0, step.port))
            return e;
        if (!NextIsArgument())
            return std::nullopt;
        step.host = Peek().text;
        ++m_at;
        return Port("PORT", 1, step.remotePort);
    case CliStepKind::Send:
        return Data(step, FieldUse::Allowed);
    case CliStepKind::SendFile:
        if (auto e = Argument("PATH", &word))
            return e;
        step.argument = word->text;
        return std::nullopt;
    case CliStepKind::Message:
        if (!More())
            return Error(QStringLiteral("NAME expected"));
        step.argument = m_words[m_at++].text;
        return std::nullopt;
    case CliStepKind::Expect:
        if (More()) {
            const auto when =
                std::find_if(std::begin(kWhenWords), std::end(kWhenWords),
                             [&](const WhenWord& w) { return Peek().text == QLatin1String(w.word); });
            if (when != std::end(kWhenWords)) {
                step.when = when->when;
                ++m_at;
            }
        }
        if (auto e = Data(step, FieldUse::Refused))
            return e;
        step.ms = CLI_EXPECT_WITHIN_MS;
        return OptionalTime("within", step.ms);
    case CliStepKind::ExpectNothing:
        if (!More() || Peek().text != QLatin1String("within"))
            return Error(QStringLiteral("'within MS' expected"));
        ++m_at;
        return Milliseconds(step.ms);
    case CliStepKind::ExpectClose:
        step.ms = CLI_EXPECT_WITHIN_MS;
        return OptionalTime("within", step.ms);
    case CliStepKind::Wait:
        return Milliseconds(step.ms);
    case CliStepKind::Serve:
        return OptionalTime("for", step.ms);
    }
    return std::nullopt;
}

QString Joined(const std::vector<Word>& words, std::size_t from, std::size_t to)
{
    QStringList parts;
    for (std::size_t i = from; i < to; ++i) {
        const QString& text = words[i].text;
        const bool plain = !text.isEmpty() && std::none_of(text.begin(), text.end(), [](QChar c) {
            return c.isSpace() || c == QLatin1Char('\'') || c == QLatin1Char('"') || c == QLatin1Char('#');
        });
        parts << (plain ? text
                        : QLatin1Char('\'') +
                              QString(text).replace(QLatin1String("'"), QLatin1String("'\\''")) +
                              QLatin1Char('\''));
    }
    return parts.join(QLatin1Char(' '));
}

// Steps from `words`; `lineEnds`: for a script, where each line's words end.
CliScript ParseWords(const std::vector<Word>& words, const std::vector<std::size_t>& lineEnds)
{
    CliScript script;
    const auto fail = [&](CliScriptError error) {
        script.steps.clear();
        script.error = std::move(error);
        return script;
    };
    std::size_t at = 0;
    std::size_t line = 0;
    while (at < words.size()) {
        std::size_t end = words.size();
        if (!lineEnds.empty()) {
            while (lineEnds[line] <= at)
                ++line;
            end = lineEnds[line];
        }
        CliStep step;
        StepReader reader(words, at, end);
        if (auto error = reader.Read(step))
            return fail(*error);
        if (!lineEnds.empty() && reader.Position() < end)
            return fail(
                {words[reader.Position()].place,
                 QStringLiteral("'%1' after the step; one step a line").arg(words[reader.Position()].text)});
        step.text = Joined(words, at, reader.Position());
        if (step.IsSession() != script.steps.empty()) {
            return fail(
                {step.place, step.IsSession()
                                 ? QStringLiteral("one session a run: '%1' after the first").arg(step.text)
                                 : QStringLiteral("the first step opens the session: connect, listen or "
                                                  "udp")});
        }
        script.steps.push_back(std::move(step));
        at = reader.Position();
    }
    if (script.steps.empty())
        return fail({{lineEnds.empty() ? 0 : 1, 1},
                     QStringLiteral("no steps: the first opens the session "
                                    "(connect, listen or udp)")});
    return script;
}

} // namespace

CliScript ParseCliArguments(const QStringList& arguments)
{
    std::vector<Word> words;
    words.reserve(arguments.size());
    for (qsizetype i = 0; i < arguments.size(); ++i)
        words.push_back({arguments[i], {0, static_cast<int>(i + 1)}, 1});
    return ParseWords(words, {});
}

CliScript ParseCliScript(const QString& text)
{
    std::vector<Word> words;
    std::vector<std::size_t> lineEnds;
    int line = 1;
    int column = 1;
    qsizetype i = 0;
    const qsizetype n = text.size();
    const auto endLine = [&] {
        lineEnds.push_back(words.size());
        ++line;
        column = 1;
    };
    while (i < n) {
        const QChar c = text[i];
        if (c == QLatin1Char('\n')) {
            endLine();
            ++i;
            continue;
        }
        if (c == QLatin1Char(' ') || c == QLatin1Char('\t') || c == QLatin1Char('\r')) {
            ++i;
            ++column;
            continue;
        }
        if (c == QLatin1Char('#')) {
            while (i < n && text[i] != QLatin1Char('\n'))
                ++i;
            continue;
        }
        // One word: bare characters and quoted runs, up to a blank.
        Word word;
        word.place = {line, column};
        word.textColumn = column;
        bool first = true;
        while (i < n) {
            const QChar d = text[i];
            if (d == QLatin1Char(' ') || d == QLatin1Char('\t') || d == QLatin1Char('\r') ||
                d == QLatin1Char('\n'))
                break;
            if (d == QLatin1Char('\'') || d == QLatin1Char('"')) {
                const CliPlace opened{line, column};
                if (first)
                    word.textColumn = column + 1;
                ++i;
                ++column;
                bool closed = false;
                while (i < n && text[i] != QLatin1Char('\n')) {
                    const QChar e = text[i];
                    if (e == d) {
                        closed = true;
                        ++i;
                        ++column;
                        break;
                    }
                    // In double quotes \" and \\ stand for themselves; every
                    // other backslash is the byte string's own.
                    if (d == QLatin1Char('"') && e == QLatin1Char('\\') && i + 1 < n &&
                        (text[i + 1] == QLatin1Char('"') || text[i + 1] == QLatin1Char('\\'))) {
                        word.text += text[i + 1];
                        i += 2;
                        column += 2;
                        continue;
                    }
                    word.text += e;
                    ++i;
                    ++column;
                }
                if (!closed) {
                    CliScript script;
                    script.error =
                        CliScriptError{opened, QStringLiteral("the quote is not closed on its line")};
                    return script;
                }
            } else {
                word.text += d;
                ++i;
                ++column;
            }
            first = false;
        }
        words.push_back(std::move(word));
    }
    endLine();
    return ParseWords(words, lineEnds);
}

QString CliScriptErrorText(const CliScriptError& error, const QString& scriptName)
{
    if (error.place.line == 0)
        return QStringLiteral("argument %1: %2").arg(error.place.column).arg(error.message);
    return QStringLiteral("%1:%2:%3: %4")
        .arg(scriptName)
        .arg(error.place.line)
        .arg(error.place.column)
        .arg(error.message);
}

QString CliStepName(CliStepKind kind)
{
    for (const KindName& k : kKinds) {
        if (k.kind == kind)
            return QLatin1String(k.name);
    }
    return {};
}
