#include "replies/reply_file.h"

#include "messages/byte_text.h"

#include <QJsonValue>

#include <algorithm>
#include <iterator>

namespace {

// Patterns are bytes; replies may hold fields.
std::optional<ByteTemplate> HexOf(const QJsonObject& object, QLatin1String key, qsizetype limit, FieldUse use)
{
    const QJsonValue value = object.value(key);
    if (!value.isString())
        return std::nullopt;
    ByteTextParse parse = ParseHexBytes(value.toString(), limit, use);
    if (!parse.Ok() || parse.bytes.isEmpty())
        return std::nullopt;
    return parse.Template();
}

} // namespace

const ReplyWhenName& ReplyWhenNameOf(ReplyWhen when)
{
    return REPLY_WHEN_NAMES[static_cast<int>(when)];
}

QJsonObject ReplyRuleToJson(const ReplyRule& rule)
{
    return {{QLatin1String("enabled"), rule.enabled},
            {QLatin1String("name"), rule.name},
            {QLatin1String("when"), ReplyWhenNameOf(rule.when).key},
            {QLatin1String("pattern"), FormatHexBytes(rule.pattern)},
            {QLatin1String("reply"), FormatTemplate(ByteForm::Hex, rule.reply)},
            {QLatin1String("delay"), rule.delayMs}};
}

std::optional<ReplyRule> ReplyRuleFromJson(const QJsonObject& object)
{
    ReplyRule rule;
    const QJsonValue enabled = object.value(QLatin1String("enabled"));
    const QJsonValue name = object.value(QLatin1String("name"));
    const QJsonValue delay = object.value(QLatin1String("delay"));
    if (!enabled.isBool() || !name.isString() || !delay.isDouble())
        return std::nullopt;
    rule.enabled = enabled.toBool();
    rule.name = name.toString();
    const double ms = delay.toDouble();
    if (!(ms >= 0 && ms <= REPLY_DELAY_MAX_MS) || ms != static_cast<int>(ms))
        return std::nullopt;
    rule.delayMs = static_cast<int>(ms);
    const QString when = object.value(QLatin1String("when")).toString();
    const auto known = std::find_if(std::begin(REPLY_WHEN_NAMES), std::end(REPLY_WHEN_NAMES),
                                    [&](const ReplyWhenName& w) { return w.key == when; });
    if (known == std::end(REPLY_WHEN_NAMES))
        return std::nullopt;
    rule.when = known->when;
    auto pattern = HexOf(object, QLatin1String("pattern"), REPLY_PATTERN_MAX, FieldUse::Refused);
    auto reply = HexOf(object, QLatin1String("reply"), BYTE_TEXT_MAX, FieldUse::Allowed);
    if (!pattern || !reply)
        return std::nullopt;
    rule.pattern = pattern->Literal();
    rule.reply = std::move(*reply);
    return rule;
}
