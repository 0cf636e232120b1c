#include "cli/cli_prepare.h"

#include "cli/cli_lists.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>

namespace {

bool Has(const CliScript& script, CliStepKind kind)
{
    return std::any_of(script.steps.begin(), script.steps.end(),
                       [kind](const CliStep& s) { return s.kind == kind; });
}

// A fault of the options for this session, or none.
QString CheckSessionOptions(const CliOptions& o, const CliStep& session)
{
    const bool udp = session.kind == CliStepKind::Udp;
    const bool listen = session.kind == CliStepKind::Listen;
    if (o.ipv6 && !listen)
        return QStringLiteral("--ipv6 is for listen: a connect or udp session takes the family of its HOST");
    if (o.keepAlive && udp)
        return QStringLiteral("--keepalive is for TCP sessions");
    if (!o.multicastGroup.isEmpty() && !udp)
        return QStringLiteral("--multicast is for udp sessions");
    if (!o.tls)
        return {};
    if (udp)
        return QStringLiteral("--tls is for TCP sessions");
    if (listen && o.tlsCert.isEmpty() && !o.tlsSelfSigned)
        return QStringLiteral("listen with --tls needs --tls-cert and --tls-key, or --tls-self-signed");
    if (!listen && o.tlsSelfSigned)
        return QStringLiteral("--tls-self-signed is for listen");
    if (listen && !o.tlsSettings.serverName.isEmpty())
        return QStringLiteral("--tls-sni is for connect");
    return {};
}

} // namespace

CliRunPlan PrepareCliRun(const CliOptions& options)
{
    CliRunPlan plan;
    QString scriptName;
    if (!options.scriptFile.isEmpty()) {
        QFile file(options.scriptFile);
        if (!file.open(QIODevice::ReadOnly)) {
            plan.error = QStringLiteral("%1: %2").arg(options.scriptFile, file.errorString());
            return plan;
        }
        plan.script = ParseCliScript(QString::fromUtf8(file.readAll()));
        scriptName = options.scriptFile;
    } else {
        plan.script = ParseCliArguments(options.stepWords);
    }
    if (!plan.script.Ok()) {
        plan.error = CliScriptErrorText(*plan.script.error, scriptName);
        return plan;
    }
    const auto placed = [&](const CliStep& step, const QString& message) {
        return CliScriptErrorText({step.place, message}, scriptName);
    };
    if (QString fault = CheckSessionOptions(options, plan.script.steps.front()); !fault.isEmpty()) {
        plan.error = fault;
        return plan;
    }

    if (Has(plan.script, CliStepKind::Message)) {
        const CliListLoad load = LoadCliMessages(options.messagesFile, plan.messages);
        if (!load.ok) {
            plan.error = load.error;
            return plan;
        }
        for (const CliStep& step : plan.script.steps) {
            if (step.kind != CliStepKind::Message)
                continue;
            if (std::none_of(plan.messages.begin(), plan.messages.end(),
                             [&](const SavedMessage& m) { return m.name == step.argument; }))
                plan.error =
                    placed(step, QStringLiteral("no message '%1' in %2").arg(step.argument, load.path));
            if (!plan.error.isEmpty())
                return plan;
        }
    }
    if (Has(plan.script, CliStepKind::Serve)) {
        const CliListLoad load = LoadCliReplies(options.repliesFile, plan.rules);
        if (!load.ok) {
            plan.error = load.error;
            return plan;
        }
        if (std::none_of(plan.rules.begin(), plan.rules.end(), [](const ReplyRule& r) { return r.enabled; }))
            plan.note = QStringLiteral("%1 has no enabled rule: serve answers nothing").arg(load.path);
    }
    for (const CliStep& step : plan.script.steps) {
        if (step.kind != CliStepKind::SendFile)
            continue;
        const QFileInfo info(step.argument);
        if (!info.isFile() || !info.isReadable()) {
            plan.error =
                placed(step, QStringLiteral("'%1' is not a file that can be read").arg(step.argument));
            return plan;
        }
    }
    return plan;
}
