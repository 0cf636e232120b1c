#include "messages/saved_message.h"

#include <QJsonValue>

#include <limits>

namespace {

const QLatin1String kName("name");
const QLatin1String kData("data");
const QLatin1String kRepeat("repeatMs");
const QLatin1String kCount("count");
const QLatin1String kForm("form");
const QLatin1String kText("text");

// A whole number in [low, high]; absent counts as 0.
std::optional<int> WholeNumber(const QJsonValue& value, int low, int high)
{
    if (value.isUndefined())
        return 0;
    if (!value.isDouble())
        return std::nullopt;
    const double d = value.toDouble();
    if (d < low || d > high || d != static_cast<double>(static_cast<long long>(d)))
        return std::nullopt;
    return static_cast<int>(d);
}

} // namespace

std::uint64_t SavedMessage::NextId()
{
    static std::uint64_t next = 0;
    return ++next;
}

QJsonObject MessageToJson(const SavedMessage& message)
{
    return QJsonObject{
        {kName, message.name},
        // Hex as ever; fields in braces among the bytes.
        {kData, message.data.HasFields() ? FormatTemplate(ByteForm::Hex, message.data).toLower()
                                         : QString::fromLatin1(message.data.Literal().toHex(' '))},
        {kRepeat, message.repeatMs},
        {kCount, message.count},
        {kForm, message.form == ByteForm::Text ? kText : QLatin1String("hex")},
    };
}

std::optional<SavedMessage> MessageFromJson(const QJsonObject& object)
{
    const QJsonValue name = object.value(kName);
    const QJsonValue data = object.value(kData);
    if (!name.isString() || !data.isString())
        return std::nullopt;
    const ByteTextParse bytes = ParseHexBytes(data.toString(), BYTE_TEXT_MAX, FieldUse::Allowed);
    const auto repeat = WholeNumber(object.value(kRepeat), 0, MESSAGE_REPEAT_MAX_MS);
    const auto count = WholeNumber(object.value(kCount), 0, std::numeric_limits<int>::max());
    if (!bytes.Ok() || bytes.bytes.isEmpty() || !repeat || !count)
        return std::nullopt;
    SavedMessage message;
    message.name = name.toString();
    message.data = bytes.Template();
    message.repeatMs = *repeat;
    message.count = *count;
    message.form = object.value(kForm).toString() == kText ? ByteForm::Text : ByteForm::Hex;
    return message;
}
