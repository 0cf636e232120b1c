#pragma once

// The steps of one korvo-cli run, given as arguments or read from a script
// (one step a line, `#` comments, words split as a shell splits them), and
// the parser that checks the whole of it before anything is sent.
//
//   connect HOST PORT [within MS]      listen PORT [within MS]
//   udp LOCAL_PORT [HOST PORT]
//   send [-x] DATA                     send-file PATH          message NAME
//   expect [contains|starts|equals|ends] [-x] DATA [within MS]
//   expect-nothing within MS           expect-close [within MS]
//   wait MS                            serve [for MS]
//
// DATA is a byte string as the Messages window takes it: text with escapes,
// or hex after -x; what is sent may hold fields, what is expected may not.
#include "messages/byte_template.h"
#include "messages/byte_text.h"
#include "replies/reply_matcher.h"

#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

enum class CliStepKind {
    Connect,
    Listen,
    Udp,
    Send,
    SendFile,
    Message,
    Expect,
    ExpectNothing,
    ExpectClose,
    Wait,
    Serve,
};

// Where a word stands: a script's line and column (1-based), or for the
// command line line 0 and the number of the argument among the steps.
struct CliPlace
{
    int line = 0;
    int column = 0;
    bool operator==(const CliPlace&) const = default;
};

struct CliStep
{
    CliStepKind kind = CliStepKind::Wait;
    CliPlace place;
    // The step as written, for reports.
    QString text;
    // connect: HOST PORT; listen: PORT; udp: LOCAL_PORT and, when given,
    // HOST and remotePort.
    QString host;
    unsigned port = 0;
    unsigned remotePort = 0;
    // send and expect.
    ByteTemplate bytes;
    ByteForm form = ByteForm::Text;
    ReplyWhen when = ReplyWhen::Contains;
    // send-file: the path; message: the name.
    QString argument;
    // within, wait and for; -1 where the step has no time.
    int ms = -1;

    bool IsSession() const
    {
        return kind == CliStepKind::Connect || kind == CliStepKind::Listen || kind == CliStepKind::Udp;
    }
};

struct CliScriptError
{
    CliPlace place;
    QString message;
};

struct CliScript
{
    std::vector<CliStep> steps;
    std::optional<CliScriptError> error;

    bool Ok() const { return !error; }
};

inline constexpr int CLI_CONNECT_WITHIN_MS = 10000;
inline constexpr int CLI_LISTEN_WITHIN_MS = 60000;
inline constexpr int CLI_EXPECT_WITHIN_MS = 5000;
inline constexpr int CLI_MS_MAX = 2147483647;

// The steps given on the command line, after the options.
CliScript ParseCliArguments(const QStringList& arguments);
// A script's text.
CliScript ParseCliScript(const QString& text);

// "FILE:LINE:COLUMN: message" for a script, "argument N: message" for the
// command line.
QString CliScriptErrorText(const CliScriptError& error, const QString& scriptName);

// The name of a step's kind as it is written.
QString CliStepName(CliStepKind kind);
