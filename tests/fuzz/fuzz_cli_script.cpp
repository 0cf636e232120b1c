// korvo-cli's script parser over scripts made of its own words, quotes and
// faults: a refusal points inside the script, and what parses begins with a
// session and holds only steps that can run.
#include "support/fuzz_target.h"

#include "cli/cli_script.h"

#include <cstdio>
#include <iterator>

namespace {

const char* const kPieces[] = {
    "connect",
    "listen",
    "udp",
    "send",
    "send-file",
    "message",
    "expect",
    "expect-nothing",
    "expect-close",
    "wait",
    "serve",
    "within",
    "for",
    "contains",
    "starts",
    "equals",
    "ends",
    "-x",
    "127.0.0.1",
    "::1",
    "5000",
    "0",
    "65536",
    "-1",
    "200",
    "'PING\\r\\n'",
    "\"a \\\" b\"",
    "'01 02 {crc16-modbus}'",
    "{seq:u16be}",
    "{crc8}",
    "'",
    "\"",
    "#",
    "\\",
    "\xC3\xA9",
    "\n",
    " ",
    "\t",
    "\r\n",
    "0G",
    "\\{",
    "",
};

int Fail(const char* what, const QString& text)
{
    std::fprintf(stderr, "fuzz_cli_script: %s in \"%s\"\n", what, text.toUtf8().constData());
    return 1;
}

int FuzzCliScript(const uint8_t* data, size_t size)
{
    FuzzReader in(data, size);
    QByteArray raw;
    while (in.More()) {
        const unsigned pick = in.Next();
        if (pick < 200)
            raw += kPieces[pick % std::size(kPieces)];
        else
            raw += static_cast<char>(in.Next());
        if (pick % 3 == 0)
            raw += ' ';
    }
    const QString text = QString::fromUtf8(raw);
    const CliScript script = ParseCliScript(text);
    const int lines = static_cast<int>(text.count(QLatin1Char('\n'))) + 1;
    if (!script.Ok()) {
        const CliPlace place = script.error->place;
        if (place.line < 1 || place.line > lines || place.column < 1)
            return Fail("a fault outside the script", text);
        if (script.error->message.isEmpty() || !script.steps.empty())
            return Fail("a fault without a message, or with steps", text);
        return 0;
    }
    if (script.steps.empty() || !script.steps.front().IsSession())
        return Fail("a run that opens no session first", text);
    for (std::size_t i = 1; i < script.steps.size(); ++i) {
        const CliStep& step = script.steps[i];
        if (step.IsSession())
            return Fail("a second session", text);
        if ((step.kind == CliStepKind::Send || step.kind == CliStepKind::Expect) && step.bytes.IsEmpty())
            return Fail("a send or expect without bytes", text);
        if (step.kind == CliStepKind::Expect && step.bytes.HasFields())
            return Fail("a field in what is expected", text);
        if (step.place.line < 1 || step.place.line > lines)
            return Fail("a step outside the script", text);
    }
    return 0;
}

} // namespace

KORVO_FUZZ_TARGET(FuzzCliScript, 3000, 96)
