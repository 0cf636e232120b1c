#pragma once

// One automatic reply: when the received bytes meet the pattern, the reply
// goes out after the delay.
#include "replies/firing_limit.h"
#include "replies/reply_matcher.h"

#include <QByteArray>
#include <QString>

#include <cstdint>

struct ReplyRule
{
    bool enabled = true;
    QString name;
    ReplyWhen when = ReplyWhen::Contains;
    QByteArray pattern;
    QByteArray reply;
    int delayMs = 0;

    // This run only, never saved: how often it fired, and its runaway guard.
    std::int64_t matched = 0;
    FiringLimit limit;
};
