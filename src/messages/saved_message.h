#pragma once

// One saved message: a named byte string, perhaps with fields computed at
// each send, its repeat interval and count, and how it is kept in
// messages.json.
#include "messages/byte_text.h"

#include <QByteArray>
#include <QJsonObject>
#include <QString>

#include <cstdint>
#include <optional>

// messages.json: {"kind": "messages", "version": 1, "rows": [...]}.
inline constexpr int MESSAGES_FILE_VERSION = 1;

// The longest "Repeat every": a day.
inline constexpr int MESSAGE_REPEAT_MAX_MS = 86'400'000;
// The most bytes one UDP datagram carries over IPv4.
inline constexpr qsizetype MESSAGE_DATAGRAM_MAX = 65'507;

struct SavedMessage
{
    QString name;
    ByteTemplate data;
    // 0: sent once.
    int repeatMs = 0;
    // 0: until stopped.
    int count = 0;
    // The form it was typed in, offered again when it is edited.
    ByteForm form = ByteForm::Hex;

    // For this run of the program only, never saved: who the message is
    // while rows move, and how often it went out in this session.
    std::uint64_t id = NextId();
    std::int64_t sent = 0;

    static std::uint64_t NextId();
};

QJsonObject MessageToJson(const SavedMessage& message);
// None when the object is not a message this version keeps.
std::optional<SavedMessage> MessageFromJson(const QJsonObject& object);
