#pragma once

// One automatic reply: when the received bytes meet the pattern, the reply
// goes out after the delay, its fields computed as it is queued.
#include "messages/byte_template.h"
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
    ByteTemplate reply;
    int delayMs = 0;

    // This run only, never saved: how often it fired, its runaway guard, and
    // the counter its next reply carries (from 0 in each session).
    std::int64_t matched = 0;
    FiringLimit limit;
    std::uint32_t counter = 0;
};
