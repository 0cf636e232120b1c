#pragma once

// Reply rules as replies.json keeps them, for the window and korvo-cli:
//
//   {"kind": "replies", "version": 1, "rows": [
//     {"enabled": true, "name": "ping", "when": "contains",
//      "pattern": "50 49 4E 47", "reply": "50 4F 4E 47", "delay": 0}, ...]}
//
// No widgets here.
#include "replies/reply_rule.h"

#include <QJsonObject>
#include <QLatin1String>
#include <QString>

#include <optional>

inline constexpr int REPLIES_FILE_VERSION = 1;
// The longest pattern: a frame longer than a datagram is not sought.
inline constexpr int REPLY_PATTERN_MAX = 65536;
inline constexpr int REPLY_DELAY_MAX_MS = 3600000;

// How each When reads in the file, which never changes, and the string id
// of its caption.
struct ReplyWhenName
{
    ReplyWhen when;
    QLatin1String key;
    int caption;
};
inline const ReplyWhenName REPLY_WHEN_NAMES[] = {
    {ReplyWhen::Contains, QLatin1String("contains"), 289},
    {ReplyWhen::StartsWith, QLatin1String("starts with"), 290},
    {ReplyWhen::Equals, QLatin1String("equals"), 291},
    {ReplyWhen::EndsWith, QLatin1String("ends with"), 292},
};
const ReplyWhenName& ReplyWhenNameOf(ReplyWhen when);

// A rule in replies.json and back; none for an object that is not a valid rule.
QJsonObject ReplyRuleToJson(const ReplyRule& rule);
std::optional<ReplyRule> ReplyRuleFromJson(const QJsonObject& object);
