#pragma once

// korvo-cli's options, read with QCommandLineParser. Options come first; the
// first word that is not an option begins the steps, so that a step's own
// "-x" is never taken for an option.
#include "cli/cli_output.h"
#include "tls/tls_settings.h"

#include <QString>
#include <QStringList>

#include <optional>

struct CliOptions
{
    QString scriptFile;
    QStringList stepWords;
    bool ipv6 = false;
    bool keepAlive = false;
    QString multicastGroup;
    QString messagesFile;
    QString repliesFile;
    int gapMs = 50;
    QString captureFile;
    CliOutputMode output = CliOutputMode::Transcript;
    QString junitFile;
    // The whole run; -1 for no bound beyond each step's own.
    int timeoutMs = -1;
    bool fast = false;

    bool tls = false;
    TlsSettings tlsSettings;
    // --tls-cert and --tls-key: the server's files or the client's.
    QString tlsCert;
    QString tlsKey;
    bool tlsSelfSigned = false;
};

struct CliOptionsParse
{
    std::optional<CliOptions> options;
    // --help or --version: the text to print, exit 0.
    QString text;
    // A usage error, exit 2.
    QString error;
};

// `arguments` with the program's name first, as QCoreApplication gives them.
CliOptionsParse ParseCliOptions(const QStringList& arguments);

// The program's version, "korvo-cli 1.4".
QString CliVersionText();
