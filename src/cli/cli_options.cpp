#include "cli/cli_options.h"

#include "tls/tls_certificate.h"

#include <QCommandLineParser>

#ifndef KORVO_VERSION
#define KORVO_VERSION "0"
#endif

namespace {

const char kSummary[] =
    "Runs one session of Korvo's from a script: connect, send, expect, serve.\n"
    "\n"
    "Steps, after the options, or one a line in a script (-f):\n"
    "  connect HOST PORT [within MS]    listen PORT [within MS]    udp LOCAL_PORT [HOST PORT]\n"
    "  send [-x] DATA    send-file PATH    message NAME\n"
    "  expect [contains|starts|equals|ends] [-x] DATA [within MS]\n"
    "  expect-nothing within MS    expect-close [within MS]    wait MS    serve [for MS]\n"
    "\n"
    "DATA is text with escapes (\\r \\n \\t \\0 \\\\ \\{ \\xHH), or hex after -x, with fields such as\n"
    "{crc16-modbus} and {seq:u16be} in what is sent.\n"
    "Exit status: 0 passed, 1 an expectation failed, 2 usage or script error,\n"
    "3 network error, 4 TLS failure, 130 interrupted. See korvo-cli(1).";

bool ReadMs(const QString& text, int& ms)
{
    bool ok = false;
    const qlonglong value = text.toLongLong(&ok);
    if (!ok || value < 0 || value > 2147483647)
        return false;
    ms = static_cast<int>(value);
    return true;
}

} // namespace

QString CliVersionText()
{
    return QStringLiteral("korvo-cli " KORVO_VERSION);
}

CliOptionsParse ParseCliOptions(const QStringList& arguments)
{
    CliOptionsParse result;
    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromLatin1(kSummary));
    parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsPositionalArguments);
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);

    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Shows this help."));
    const QCommandLineOption version(QStringLiteral("version"), QStringLiteral("Shows the version."));
    const QCommandLineOption file({QStringLiteral("f"), QStringLiteral("file")},
                                  QStringLiteral("Reads the steps from SCRIPT, one a line."),
                                  QStringLiteral("SCRIPT"));
    const QCommandLineOption ipv6(QStringLiteral("ipv6"), QStringLiteral("listen: on IPv6."));
    const QCommandLineOption keepAlive(
        QStringLiteral("keepalive"),
        QStringLiteral("connect, listen: TCP keep-alive, as the window's check box."));
    const QCommandLineOption multicast(QStringLiteral("multicast"), QStringLiteral("udp: joins the group."),
                                       QStringLiteral("GROUP"));
    const QCommandLineOption messages(QStringLiteral("messages"),
                                      QStringLiteral("Saved messages from FILE instead of messages.json."),
                                      QStringLiteral("FILE"));
    const QCommandLineOption replies(QStringLiteral("replies"),
                                     QStringLiteral("Reply rules from FILE instead of replies.json."),
                                     QStringLiteral("FILE"));
    const QCommandLineOption gap(QStringLiteral("gap"),
                                 QStringLiteral("A frame ends after MS without data (default 50)."),
                                 QStringLiteral("MS"));
    const QCommandLineOption capture(
        QStringLiteral("capture"),
        QStringLiteral("Records the session to FILE: .txt a transcript, else pcap."), QStringLiteral("FILE"));
    const QCommandLineOption json(QStringLiteral("json"),
                                  QStringLiteral("One JSON object a line for every event."));
    const QCommandLineOption junit(QStringLiteral("junit"),
                                   QStringLiteral("A JUnit report of the expect steps."),
                                   QStringLiteral("FILE"));
    const QCommandLineOption quiet(QStringLiteral("quiet"), QStringLiteral("Only failures, on stderr."));
    const QCommandLineOption timeout(QStringLiteral("timeout"), QStringLiteral("Bounds the whole run."),
                                     QStringLiteral("MS"));
    const QCommandLineOption fast(
        QStringLiteral("fast"),
        QStringLiteral("send-file as fast as the socket takes, not 512 bytes per ms."));
    const QCommandLineOption tls(QStringLiteral("tls"), QStringLiteral("TLS for the TCP session."));
    const QCommandLineOption tlsCa(QStringLiteral("tls-ca"),
                                   QStringLiteral("Verifies the peer against FILE's authorities."),
                                   QStringLiteral("FILE"));
    const QCommandLineOption tlsInsecure(QStringLiteral("tls-insecure"),
                                         QStringLiteral("Does not verify the peer's certificate."));
    const QCommandLineOption tlsCert(QStringLiteral("tls-cert"), QStringLiteral("This side's certificate."),
                                     QStringLiteral("FILE"));
    const QCommandLineOption tlsKey(QStringLiteral("tls-key"), QStringLiteral("This side's private key."),
                                    QStringLiteral("FILE"));
    const QCommandLineOption tlsSelfSigned(QStringLiteral("tls-self-signed"),
                                           QStringLiteral("listen: a throwaway self-signed certificate."));
    const QCommandLineOption tlsSni(QStringLiteral("tls-sni"),
                                    QStringLiteral("The server name to send and check (default: HOST)."),
                                    QStringLiteral("NAME"));
    const QCommandLineOption tlsMin(QStringLiteral("tls-min"),
                                    QStringLiteral("The lowest version: 1.2 or 1.3."),
                                    QStringLiteral("VERSION"));
    const QCommandLineOption tlsPin(
        QStringLiteral("tls-pin"),
        QStringLiteral("Accepts only the certificate of this SHA-256 fingerprint."),
        QStringLiteral("sha256:HEX"));
    parser.addOptions({help,  version,     file,    ipv6,   keepAlive,     multicast, messages, replies,
                       gap,   capture,     json,    junit,  quiet,         timeout,   fast,     tls,
                       tlsCa, tlsInsecure, tlsCert, tlsKey, tlsSelfSigned, tlsSni,    tlsMin,   tlsPin});
    parser.addPositionalArgument(QStringLiteral("step"),
                                 QStringLiteral("The steps, when no script is given."),
                                 QStringLiteral("STEP..."));

    if (!parser.parse(arguments)) {
        result.error = parser.errorText();
        return result;
    }
    if (parser.isSet(help)) {
        result.text = parser.helpText();
        return result;
    }
    if (parser.isSet(version)) {
        result.text = CliVersionText() + QLatin1Char('\n');
        return result;
    }

    CliOptions o;
    o.scriptFile = parser.value(file);
    o.stepWords = parser.positionalArguments();
    if (!o.scriptFile.isEmpty() && !o.stepWords.isEmpty()) {
        result.error = QStringLiteral("steps come from the script or from the arguments, not both");
        return result;
    }
    o.ipv6 = parser.isSet(ipv6);
    o.keepAlive = parser.isSet(keepAlive);
    o.multicastGroup = parser.value(multicast);
    o.messagesFile = parser.value(messages);
    o.repliesFile = parser.value(replies);
    if (parser.isSet(gap) && (!ReadMs(parser.value(gap), o.gapMs) || o.gapMs < 1 || o.gapMs > 60000)) {
        result.error = QStringLiteral("--gap takes milliseconds from 1 to 60000");
        return result;
    }
    o.captureFile = parser.value(capture);
    const int outputs = int(parser.isSet(json)) + int(parser.isSet(quiet));
    if (outputs > 1) {
        result.error = QStringLiteral("--json and --quiet exclude each other");
        return result;
    }
    o.output = parser.isSet(json)    ? CliOutputMode::Json
               : parser.isSet(quiet) ? CliOutputMode::Quiet
                                     : CliOutputMode::Transcript;
    o.junitFile = parser.value(junit);
    if (parser.isSet(timeout) && (!ReadMs(parser.value(timeout), o.timeoutMs) || o.timeoutMs < 1)) {
        result.error = QStringLiteral("--timeout takes milliseconds, at least 1");
        return result;
    }
    o.fast = parser.isSet(fast);

    o.tls = parser.isSet(tls);
    const bool anyTls = parser.isSet(tlsCa) || parser.isSet(tlsInsecure) || parser.isSet(tlsCert) ||
                        parser.isSet(tlsKey) || parser.isSet(tlsSelfSigned) || parser.isSet(tlsSni) ||
                        parser.isSet(tlsMin) || parser.isSet(tlsPin);
    if (anyTls && !o.tls) {
        result.error = QStringLiteral("the --tls-... options need --tls");
        return result;
    }
    TlsSettings& s = o.tlsSettings;
    s.verify = !parser.isSet(tlsInsecure);
    if (parser.isSet(tlsCa)) {
        if (!s.verify) {
            result.error = QStringLiteral("--tls-ca and --tls-insecure exclude each other");
            return result;
        }
        s.useCaFile = true;
        s.caFile = parser.value(tlsCa);
    }
    o.tlsCert = parser.value(tlsCert);
    o.tlsKey = parser.value(tlsKey);
    if (o.tlsCert.isEmpty() != o.tlsKey.isEmpty()) {
        result.error = QStringLiteral("--tls-cert and --tls-key go together");
        return result;
    }
    o.tlsSelfSigned = parser.isSet(tlsSelfSigned);
    if (o.tlsSelfSigned && !o.tlsCert.isEmpty()) {
        result.error = QStringLiteral("--tls-self-signed and --tls-cert exclude each other");
        return result;
    }
    s.serverName = parser.value(tlsSni);
    if (parser.isSet(tlsMin)) {
        const QString v = parser.value(tlsMin);
        if (v == QLatin1String("1.2"))
            s.minVersion = TlsMinVersion::Tls12;
        else if (v == QLatin1String("1.3"))
            s.minVersion = TlsMinVersion::Tls13;
        else {
            result.error = QStringLiteral("--tls-min takes 1.2 or 1.3, not '%1'").arg(v);
            return result;
        }
    }
    if (parser.isSet(tlsPin)) {
        s.pin = ParseFingerprint(parser.value(tlsPin));
        if (s.pin.size() != 32) {
            result.error = QStringLiteral("--tls-pin takes sha256: and 32 bytes of hex, as the window shows "
                                          "the fingerprint");
            return result;
        }
    }
    result.options = std::move(o);
    return result;
}
