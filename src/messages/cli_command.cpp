#include "messages/cli_command.h"

#include "tls/tls_certificate.h"

#include <arpa/inet.h>

#include <algorithm>

namespace {

// Characters that neither a POSIX shell nor zsh treats specially anywhere in
// a word ('=' begins a path expansion in zsh).
bool IsPlain(QChar c)
{
    const char16_t u = c.unicode();
    return (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9') ||
           QStringView(u"@%+:,./_-").contains(c);
}

// Only a group written as an address is named: a host name is not looked up
// here, and korvo-cli joins a group that a name stands for all the same.
bool IsMulticastLiteral(const QString& host)
{
    in_addr address{};
    if (inet_pton(AF_INET, host.toLatin1().constData(), &address) != 1)
        return false;
    return (ntohl(address.s_addr) >> 28) == 0xE;
}

void AddTlsOptions(QStringList& words, const CliCommandSession& s)
{
    const TlsSettings& t = s.tlsSettings;
    const bool server = s.mode == CliCommandMode::TcpServer;
    words << QStringLiteral("--tls");
    if (t.verify && t.UsesCaFile())
        words << QStringLiteral("--tls-ca") << t.caFile;
    // A server without a CA file asks for no client certificate either way.
    else if (!t.verify && !server)
        words << QStringLiteral("--tls-insecure");
    // As the window reads them: a key file left empty is in the certificate's.
    const auto certificate = [&words](const QString& cert, const QString& key) {
        if (!cert.isEmpty())
            words << QStringLiteral("--tls-cert") << cert << QStringLiteral("--tls-key")
                  << (key.isEmpty() ? cert : key);
    };
    if (server) {
        if (t.selfSigned)
            words << QStringLiteral("--tls-self-signed");
        else
            certificate(t.certFile, t.keyFile);
    } else {
        certificate(t.clientCertFile, t.clientKeyFile);
        if (!t.serverName.isEmpty())
            words << QStringLiteral("--tls-sni") << t.serverName;
    }
    if (t.minVersion == TlsMinVersion::Tls13)
        words << QStringLiteral("--tls-min") << QStringLiteral("1.3");
    if (t.pin.size() == 32)
        words << QStringLiteral("--tls-pin") << QStringLiteral("sha256:") + FormatFingerprint(t.pin);
}

} // namespace

QString ShellQuote(const QString& word)
{
    if (!word.isEmpty() && std::all_of(word.begin(), word.end(), IsPlain))
        return word;
    return QLatin1Char('\'') + QString(word).replace(QLatin1String("'"), QLatin1String("'\\''")) +
           QLatin1Char('\'');
}

QStringList CliCommandWords(const CliCommandSession& s, const QString& messageName)
{
    QStringList words{QStringLiteral("korvo-cli")};
    if (!s.messagesFile.isEmpty())
        words << QStringLiteral("--messages") << s.messagesFile;
    const bool udp = s.mode == CliCommandMode::Udp;
    if (s.keepAlive && !udp)
        words << QStringLiteral("--keepalive");
    if (s.ipv6 && s.mode == CliCommandMode::TcpServer)
        words << QStringLiteral("--ipv6");
    if (udp && IsMulticastLiteral(s.remoteHost))
        words << QStringLiteral("--multicast") << s.remoteHost;
    if (s.tls && !udp)
        AddTlsOptions(words, s);

    switch (s.mode) {
    case CliCommandMode::TcpClient:
        words << QStringLiteral("connect") << s.remoteHost << QString::number(s.remotePort);
        break;
    case CliCommandMode::TcpServer:
        words << QStringLiteral("listen") << QString::number(s.localPort);
        break;
    case CliCommandMode::Udp:
        words << QStringLiteral("udp") << QString::number(s.localPort);
        if (!s.remoteHost.isEmpty())
            words << s.remoteHost << QString::number(s.remotePort);
        break;
    }
    words << QStringLiteral("message") << messageName;
    return words;
}

QString CliCommandLine(const CliCommandSession& session, const QString& messageName)
{
    QStringList quoted;
    for (const QString& word : CliCommandWords(session, messageName))
        quoted << ShellQuote(word);
    return quoted.join(QLatin1Char(' '));
}
