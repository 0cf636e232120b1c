#pragma once

// Runs one test again inside a private network namespace, where multicast
// and 255.255.255.255 are routed to loopback and nothing leaves the machine,
// or inside a private mount namespace with file systems of its own.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QProcess>

#include <cstdlib>

namespace korvo::test {

// Loopback up, multicast and limited broadcast routed to it.
inline constexpr char NETNS_LOOPBACK[] = "ip link set lo up && ip route add 224.0.0.0/4 dev lo && "
                                         "ip route add broadcast 255.255.255.255 dev lo";
// No interface up at all: every address is unreachable.
inline constexpr char NETNS_EMPTY[] = "true";

inline bool InsidePrivateNamespace()
{
    return std::getenv("KORVO_IN_NETNS") != nullptr;
}

// From outside: re-runs the current test inside `unshare -n` after `setup`
// and reports its result; skips where namespaces cannot be made.
#define KORVO_RUN_IN_NETNS(setup) KORVO_RUN_IN_NAMESPACE(setup, {QStringList{QStringLiteral("-n")}})

// The same in a private mount namespace (`unshare -m`, else in a user
// namespace of its own where plain users may mount), for a file system of
// the test's own, such as a tiny tmpfs.
#define KORVO_RUN_IN_MOUNT_NS(setup)                                                                         \
    KORVO_RUN_IN_NAMESPACE(                                                                                  \
        setup, (QList<QStringList>{{QStringLiteral("-m")}, {QStringLiteral("-r"), QStringLiteral("-m")}}))

// `unshareOptions`: the first that works here.
#define KORVO_RUN_IN_NAMESPACE(setup, unshareOptions)                                                        \
    do {                                                                                                     \
        if (!::korvo::test::InsidePrivateNamespace()) {                                                      \
            QString reason;                                                                                  \
            if (!::korvo::test::RerunInNamespace(setup, &reason, unshareOptions))                            \
                GTEST_SKIP() << reason.toStdString();                                                        \
            return;                                                                                          \
        }                                                                                                    \
    } while (0)

inline bool RerunInNamespace(const char* setup, QString* skipReason, const QList<QStringList>& unshareOptions)
{
    QStringList options;
    for (const QStringList& candidate : unshareOptions) {
        QProcess probe;
        probe.start(QStringLiteral("timeout"), QStringList{QStringLiteral("10"), QStringLiteral("unshare")} +
                                                   candidate + QStringList{QStringLiteral("true")});
        if (probe.waitForFinished(15000) && probe.exitStatus() == QProcess::NormalExit &&
            probe.exitCode() == 0) {
            options = candidate;
            break;
        }
    }
    if (options.isEmpty()) {
        *skipReason = QStringLiteral("private namespaces are not available here (unshare %1 failed)")
                          .arg(unshareOptions.constFirst().join(QLatin1Char(' ')));
        return false;
    }
    const testing::TestInfo* info = testing::UnitTest::GetInstance()->current_test_info();
    const QString filter =
        QStringLiteral("--gtest_filter=%1.%2")
            .arg(QString::fromLatin1(info->test_suite_name()), QString::fromLatin1(info->name()));
    QProcess child;
    child.setProcessChannelMode(QProcess::MergedChannels);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("KORVO_IN_NETNS"), QStringLiteral("1"));
    child.setProcessEnvironment(env);
    child.start(QStringLiteral("timeout"),
                QStringList{QStringLiteral("60"), QStringLiteral("unshare")} + options +
                    QStringList{QStringLiteral("sh"), QStringLiteral("-c"),
                                QString::fromLatin1(setup) + QStringLiteral(" && exec \"$0\" \"$1\""),
                                QCoreApplication::applicationFilePath(), filter});
    const bool finished = child.waitForFinished(70000);
    const QByteArray output = child.readAll();
    EXPECT_TRUE(finished && child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0)
        << "inside the namespace:\n"
        << output.toStdString();
    EXPECT_TRUE(output.contains("[  PASSED  ] 1 test")) << output.toStdString();
    return true;
}

} // namespace korvo::test
