// korvo-cli: Korvo's sessions, saved messages, reply rules and capture from
// scripts and CI, with exit codes that say whether the device answered right.
#include "cli/cli_options.h"
#include "cli/cli_prepare.h"
#include "cli/cli_runner.h"
#include "platform/profile.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

namespace {

int s_signalPipe[2] = {-1, -1};

void OnSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(s_signalPipe[1], &byte, 1);
}

// SIGINT and SIGTERM reach the runner through the event loop, so that the
// capture is closed whole.
void CatchSignals()
{
    if (::pipe2(s_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    struct sigaction action
    {
    };
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    // A reader that went away is a failed write, not the end of the process.
    signal(SIGPIPE, SIG_IGN);
}

void Print(std::FILE* to, const QString& text)
{
    std::fputs(text.toLocal8Bit().constData(), to);
    std::fflush(to);
}

} // namespace

int main(int argc, char** argv)
{
    // Answered before Qt starts, for scripts that check what is installed.
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::puts(CliVersionText().toLatin1().constData());
        return 0;
    }
    QCoreApplication app(argc, argv);
    Profile::SetRegistryKey(QString::fromLatin1(PROFILE_COMPANY));

    const CliOptionsParse parse = ParseCliOptions(QCoreApplication::arguments());
    if (!parse.error.isEmpty()) {
        Print(stderr, QStringLiteral("korvo-cli: %1\nTry 'korvo-cli --help'.\n").arg(parse.error));
        return CLI_EXIT_USAGE;
    }
    if (!parse.options) {
        Print(stdout, parse.text);
        return 0;
    }
    CliRunPlan plan = PrepareCliRun(*parse.options);
    if (!plan.error.isEmpty()) {
        Print(stderr, QStringLiteral("korvo-cli: %1\n").arg(plan.error));
        return CLI_EXIT_USAGE;
    }
    if (!plan.note.isEmpty() && parse.options->output != CliOutputMode::Quiet)
        Print(stderr, QStringLiteral("korvo-cli: %1\n").arg(plan.note));

    CatchSignals();
    CliRunner runner(*parse.options, std::move(plan.script), std::move(plan.messages), std::move(plan.rules));
    runner.m_onFinished = [](int code) { QCoreApplication::exit(code); };
    std::unique_ptr<QSocketNotifier> signalNotifier;
    if (s_signalPipe[0] >= 0) {
        signalNotifier = std::make_unique<QSocketNotifier>(s_signalPipe[0], QSocketNotifier::Read);
        QObject::connect(signalNotifier.get(), &QSocketNotifier::activated, [&runner] {
            char bytes[16];
            while (::read(s_signalPipe[0], bytes, sizeof bytes) > 0) {
            }
            runner.Interrupt();
        });
    }
    QTimer::singleShot(0, [&runner] { runner.Start(); });
    return app.exec();
}
