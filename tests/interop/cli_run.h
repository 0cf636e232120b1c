#pragma once

// korvo-cli run as a user runs it: the built program in a process of its
// own, with the test's home folder, bounded in time.
#include "interop/tls_peers.h"

#include <gtest/gtest.h>

#include <QProcess>
#include <QString>
#include <QStringList>

#include <csignal>

namespace korvo::test {

inline QString CliProgram()
{
    return QStringLiteral(KORVO_BINARY_DIR "/bin/korvo-cli");
}

struct CliResult
{
    int exit = -1;
    QByteArray out;
    QByteArray err;
};

// Runs korvo-cli to its end (at most 30 s).
inline CliResult RunCli(const QStringList& arguments, const QString& folder = {})
{
    QProcess process;
    if (!folder.isEmpty())
        process.setWorkingDirectory(folder);
    process.start(CliProgram(), arguments);
    EXPECT_TRUE(process.waitForStarted(5000));
    const bool finished = process.waitForFinished(30000);
    EXPECT_TRUE(finished) << arguments.join(QLatin1Char(' ')).toStdString();
    if (!finished)
        process.kill();
    process.waitForFinished(2000);
    CliResult result;
    result.exit = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.out = process.readAllStandardOutput();
    result.err = process.readAllStandardError();
    return result;
}

// A socat peer on loopback that echoes each connection (TCP) or datagram.
inline void StartEchoPeer(PeerProcess& peer, unsigned short port)
{
    peer.Serve(
        QStringLiteral("socat"),
        {QStringLiteral("TCP-LISTEN:%1,bind=127.0.0.1,reuseaddr,fork").arg(port), QStringLiteral("EXEC:cat")},
        port);
}

} // namespace korvo::test
