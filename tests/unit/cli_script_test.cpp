// korvo-cli's scripts: what parses into which steps, and where a mistake is
// pointed at, both from a script file and from the command line.
#include "cli/cli_script.h"

#include <gtest/gtest.h>

namespace {

struct BadScript
{
    const char* text;
    int line;
    int column;
    const char* says;
};

TEST(CliScript, MistakesArePointedAtByLineAndColumn)
{
    const BadScript cases[] = {
        {"", 1, 1, "no steps"},
        {"# only a comment\n", 1, 1, "no steps"},
        {"send hi\n", 1, 1, "first step opens the session"},
        {"connect 127.0.0.1 5000\nlisten 5000\n", 2, 1, "one session a run"},
        {"connect 127.0.0.1\n", 1, 18, "PORT expected"},
        {"connect 127.0.0.1 70000\n", 1, 19, "from 1 to 65535"},
        {"connect 127.0.0.1 5000\n  frobnicate 1\n", 2, 3, "is not a step"},
        {"connect 127.0.0.1 5000\nsend -x '02 0G'\n", 2, 14, "G"},
        {"connect 127.0.0.1 5000\nsend 'oops\n", 2, 6, "quote is not closed"},
        {"connect 127.0.0.1 5000\nexpect -x '01 {crc32}'\n", 2, 15, "literal bytes"},
        {"connect 127.0.0.1 5000\nexpect PONG within soon\n", 2, 20, "milliseconds"},
        {"connect 127.0.0.1 5000\nsend a b\n", 2, 8, "one step a line"},
        {"connect 127.0.0.1 5000\nexpect-nothing 100\n", 2, 16, "'within MS' expected"},
        {"connect 127.0.0.1 5000\nsend {crc8}\n", 2, 6, "crc8"},
        {"udp 5000 127.0.0.1\n", 1, 19, "PORT expected"},
    };
    for (const BadScript& c : cases) {
        const CliScript script = ParseCliScript(QString::fromUtf8(c.text));
        ASSERT_FALSE(script.Ok()) << c.text;
        EXPECT_TRUE(script.steps.empty());
        EXPECT_EQ(c.line, script.error->place.line) << c.text;
        EXPECT_EQ(c.column, script.error->place.column) << c.text;
        EXPECT_TRUE(script.error->message.contains(QString::fromUtf8(c.says)))
            << c.text << " says " << script.error->message.toStdString();
    }
}

TEST(CliScript, StepsReadAsWritten)
{
    const CliScript script = ParseCliScript(QStringLiteral("# a Modbus device\n"
                                                           "connect ::1 502 within 250   # IPv6\n"
                                                           "send -x '01 03 00 0A 00 02 {crc16-modbus}'\n"
                                                           "expect starts -x \"01 03\" within 200\n"
                                                           "send \"say \\\"hi\\\"\\r\\n\"\n"
                                                           "expect ends 'ok\\r\\n'\n"
                                                           "expect-nothing within 100\n"
                                                           "message 'status poll'\n"
                                                           "wait 10\n"
                                                           "serve for 1000\n"
                                                           "expect-close\n"));
    ASSERT_TRUE(script.Ok()) << script.error->message.toStdString();
    ASSERT_EQ(10u, script.steps.size());
    const CliStep& connect = script.steps[0];
    EXPECT_EQ(CliStepKind::Connect, connect.kind);
    EXPECT_EQ(QStringLiteral("::1"), connect.host);
    EXPECT_EQ(502u, connect.port);
    EXPECT_EQ(250, connect.ms);
    EXPECT_EQ((CliPlace{2, 1}), connect.place);

    EXPECT_EQ(QByteArray::fromHex("0103000A0002E409"), script.steps[1].bytes.Render(0));
    EXPECT_EQ(ReplyWhen::StartsWith, script.steps[2].when);
    EXPECT_EQ(QByteArray("\x01\x03", 2), script.steps[2].bytes.Literal());
    EXPECT_EQ(200, script.steps[2].ms);
    // In double quotes \" is a quote; the byte string's own escapes stay.
    EXPECT_EQ(QByteArray("say \"hi\"\r\n"), script.steps[3].bytes.Literal());
    EXPECT_EQ(ReplyWhen::EndsWith, script.steps[4].when);
    EXPECT_EQ(CLI_EXPECT_WITHIN_MS, script.steps[4].ms);
    EXPECT_EQ(100, script.steps[5].ms);
    EXPECT_EQ(QStringLiteral("status poll"), script.steps[6].argument);
    EXPECT_EQ(10, script.steps[7].ms);
    EXPECT_EQ(1000, script.steps[8].ms);
    EXPECT_EQ(CliStepKind::ExpectClose, script.steps[9].kind);
    EXPECT_EQ(QStringLiteral("message 'status poll'"), script.steps[6].text);
}

TEST(CliScript, ArgumentsRunOnFromStepToStep)
{
    const QStringList words = {"udp", "5000", "send", "-x", "01", "expect", "equals", "send", "serve"};
    const CliScript script = ParseCliArguments(words);
    ASSERT_TRUE(script.Ok()) << script.error->message.toStdString();
    ASSERT_EQ(4u, script.steps.size());
    // A udp step without a remote stops at the next step's name.
    EXPECT_TRUE(script.steps[0].host.isEmpty());
    EXPECT_EQ(QByteArray("\x01"), script.steps[1].bytes.Literal());
    // Data always follows: "send" here is what is expected.
    EXPECT_EQ(QByteArray("send"), script.steps[2].bytes.Literal());
    EXPECT_EQ(ReplyWhen::Equals, script.steps[2].when);
    EXPECT_EQ(-1, script.steps[3].ms);

    const CliScript bad = ParseCliArguments({"listen", "5000", "expect", "x", "within", "-5"});
    ASSERT_FALSE(bad.Ok());
    EXPECT_EQ((CliPlace{0, 6}), bad.error->place);
    EXPECT_EQ(QStringLiteral("argument 6: "), CliScriptErrorText(*bad.error, {}).left(12));
    const CliScript badFile = ParseCliScript(QStringLiteral("listen 99999"));
    EXPECT_TRUE(CliScriptErrorText(*badFile.error, QStringLiteral("t.korvo"))
                    .startsWith(QStringLiteral("t.korvo:1:8: ")));
}

} // namespace
