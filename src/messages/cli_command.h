#pragma once

// The korvo-cli command that sends one saved message on a session set up as
// the main window's is: what the Messages window's Copy as Command puts on
// the clipboard, so that a script or a CI job repeats what the user just did
// by hand. No widgets here.
#include "tls/tls_settings.h"

#include <QString>
#include <QStringList>

enum class CliCommandMode { TcpClient, TcpServer, Udp };

struct CliCommandSession
{
    CliCommandMode mode = CliCommandMode::TcpClient;
    // TCP client: where it connects; UDP: where datagrams go (empty: to
    // whoever sent the last one).
    QString remoteHost;
    unsigned remotePort = 0;
    // TCP server and UDP.
    unsigned localPort = 0;
    // The IPv6 button; only a server takes it, the others follow the host.
    bool ipv6 = false;
    bool keepAlive = false;
    // The TLS window's switch and settings; TCP sessions only.
    bool tls = false;
    TlsSettings tlsSettings;
    // The saved messages' file; empty for messages.json beside the profile.
    QString messagesFile;
};

// The command's words, unquoted, the program's name first.
QStringList CliCommandWords(const CliCommandSession& session, const QString& messageName);
// The words as one line that a POSIX shell reads back into the same words.
QString CliCommandLine(const CliCommandSession& session, const QString& messageName);
// One word for a POSIX shell: as it is when nothing in it is special, else
// in single quotes, each ' written as '\''.
QString ShellQuote(const QString& word);
