#pragma once

// Everything korvo-cli checks before it opens the session: the script (from
// the arguments or its file), the options that go with its session, the
// saved messages and reply rules it names, the files it sends. A mistake is
// told with its place and nothing is sent (exit 2).
#include "cli/cli_options.h"
#include "cli/cli_script.h"
#include "messages/saved_message.h"
#include "replies/reply_rule.h"

#include <QString>

#include <vector>

struct CliRunPlan
{
    CliScript script;
    std::vector<SavedMessage> messages;
    std::vector<ReplyRule> rules;
    // Empty when the run may start.
    QString error;
    // Worth telling, not a failure (a serve step without rules).
    QString note;
};

CliRunPlan PrepareCliRun(const CliOptions& options);
