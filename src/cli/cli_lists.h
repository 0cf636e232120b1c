#pragma once

// The window's saved messages and reply rules, read unchanged by korvo-cli:
// messages.json and replies.json beside the profile, or the files given.
#include "messages/saved_message.h"
#include "replies/reply_rule.h"

#include <QString>

#include <vector>

struct CliListLoad
{
    bool ok = false;
    // The file read, and why it could not be used.
    QString path;
    QString error;
};

// `path` empty: the file beside the profile. A missing, unreadable or newer
// file, or an entry that is not valid, is an error.
CliListLoad LoadCliMessages(const QString& path, std::vector<SavedMessage>& messages);
CliListLoad LoadCliReplies(const QString& path, std::vector<ReplyRule>& rules);
