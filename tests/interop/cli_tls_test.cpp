// korvo-cli over TLS against openssl's own client and server: verification
// that refuses a self-signed peer (exit 4, with its fingerprint) and accepts
// it by its CA, its pin or no check at all; Korvo's throwaway certificate as
// a server; the handshake's details in --json.
#include "interop/cli_run.h"

#include <gtest/gtest.h>

namespace korvo::test {
namespace {

// socat as a TLS echo server with the certificate NAME, one client after another.
void StartTlsEcho(PeerProcess& peer, const TlsFiles& files, const char* name, unsigned short port)
{
    QStringList arguments = SocatServer(files, name, port, QStringLiteral("EXEC:cat"));
    arguments.front() += QStringLiteral(",fork");
    peer.Serve(QStringLiteral("socat"), arguments, port);
}

TEST(CliTls, VerificationDecidesTheExitCode)
{
    TlsFiles files;
    const unsigned short self = FreePort();
    PeerProcess selfSigned;
    StartTlsEcho(selfSigned, files, "self", self);
    const unsigned short signedPort = FreePort();
    PeerProcess signedByCa;
    StartTlsEcho(signedByCa, files, "server", signedPort);
    const unsigned short only12 = FreePort();
    PeerProcess tls12;
    tls12.Serve(QStringLiteral("openssl"), SServer(files, "server", only12, {QStringLiteral("-tls1_2")}),
                only12);

    const QString fingerprint = files.Fingerprint("self");
    const QStringList exchange = {"send", "secret\\n", "expect", "secret\\n", "within", "3000"};
    const auto connect = [](unsigned short port) {
        return QStringList{"connect", "127.0.0.1", QString::number(port)};
    };
    struct Case
    {
        QStringList options;
        unsigned short port;
        int exit;
        QString says;
    };
    const Case cases[] = {
        {{"--tls"}, self, 4, fingerprint},
        {{"--tls", "--tls-ca", files.Pem("ca")}, self, 4, QStringLiteral("certificate verify failed")},
        {{"--tls", "--tls-pin", "sha256:" + fingerprint}, self, 0, {}},
        {{"--tls", "--tls-insecure"}, self, 0, {}},
        {{"--tls", "--tls-ca", files.Pem("ca")}, signedPort, 0, {}},
        {{"--tls", "--tls-ca", files.Pem("ca"), "--tls-sni", "elsewhere.example"}, signedPort, 4, {}},
        {{"--tls", "--tls-insecure", "--tls-min", "1.3"}, only12, 4, {}},
        {{"--tls", "--tls-self-signed"}, self, 2, QStringLiteral("--tls-self-signed is for listen")},
    };
    for (const Case& k : cases) {
        const QStringList arguments = QStringList{"--quiet"} + k.options + connect(k.port) + exchange;
        const CliResult r = RunCli(arguments);
        EXPECT_EQ(k.exit, r.exit) << arguments.join(QLatin1Char(' ')).toStdString() << ": "
                                  << r.err.toStdString();
        EXPECT_TRUE(r.err.contains(k.says.toUtf8()))
            << arguments.join(QLatin1Char(' ')).toStdString() << ": " << r.err.toStdString();
    }

    // The handshake's details reach the JSON.
    const CliResult json =
        RunCli(QStringList{"--json", "--tls", "--tls-ca", files.Pem("ca")} + connect(signedPort) + exchange);
    EXPECT_EQ(0, json.exit) << json.err.toStdString();
    EXPECT_TRUE(json.out.contains("\"tls\":{")) << json.out.toStdString();
    EXPECT_TRUE(json.out.contains("\"version\":\"TLS 1.3\"")) << json.out.toStdString();
    EXPECT_TRUE(json.out.contains(files.Fingerprint("server").toUtf8())) << json.out.toStdString();
    EXPECT_TRUE(json.out.contains("Korvo Test CA")) << json.out.toStdString();
}

TEST(CliTls, ThrowawayCertificateServesOpensslClient)
{
    const unsigned short port = FreePort();
    PeerProcess cli;
    cli.Serve(CliProgram(),
              {"--tls", "--tls-self-signed", "listen", QString::number(port), "expect", "hello", "send",
               "over tls\\n", "expect-close", "within", "5000"},
              port, false);
    PeerProcess client;
    client.Start(QStringLiteral("sh"),
                 {QStringLiteral("-c"),
                  QStringLiteral("(printf hello; sleep 1) | openssl s_client -quiet -no_ign_eof -connect "
                                 "127.0.0.1:%1 2>/dev/null")
                      .arg(port)});
    ASSERT_TRUE(cli.Finished());
    EXPECT_EQ(0, cli.process.exitCode()) << cli.process.readAllStandardError().toStdString();
    ASSERT_TRUE(client.Finished());
    EXPECT_TRUE(client.Output().contains("over tls")) << client.Output().toStdString();

    // A server that wants a client certificate from its CA: a client without
    // one fails the handshake, and the listen step says so with exit 4
    // rather than waiting out its time.
    TlsFiles files;
    const unsigned short strict = FreePort();
    PeerProcess server;
    server.Serve(CliProgram(),
                 {"--quiet", "--tls", "--tls-cert", files.Pem("server"), "--tls-key", files.Key("server"),
                  "--tls-ca", files.Pem("ca"), "listen", QString::number(strict), "within", "20000"},
                 strict, false);
    PeerProcess anonymous;
    anonymous.Start(
        QStringLiteral("sh"),
        {QStringLiteral("-c"), QStringLiteral("openssl s_client -quiet -connect 127.0.0.1:%1 </dev/null "
                                              ">/dev/null 2>&1")
                                   .arg(strict)});
    ASSERT_TRUE(server.Finished());
    const QByteArray why = server.process.readAllStandardError();
    EXPECT_EQ(4, server.process.exitCode()) << why.toStdString();
    EXPECT_TRUE(why.contains("certificate")) << why.toStdString();
    anonymous.Finished();
}

} // namespace
} // namespace korvo::test
