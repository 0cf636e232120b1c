// A saved message as messages.json keeps it, and when a repeat goes next:
// on its slot, and after a stall on a later slot rather than in a burst.
#include "messages/message_sender.h"
#include "messages/saved_message.h"

#include <gtest/gtest.h>

#include <QJsonDocument>

namespace {

TEST(MessageSchedule, ARepeatKeepsItsSlotsAndSkipsThoseAStallTookAway)
{
    using std::chrono::milliseconds;
    const struct
    {
        std::int64_t slot;
        int elapsedMs;
        std::int64_t next;
    } cases[] = {
        {0, 0, 1},      // sent on time
        {4, 40, 5},     // a slow send never pulls the next one in
        {4, 56, 5},     // slot 5 is late but slot 6 has not come: 5 goes at once
        {4, 60, 6},     // slot 6 has come: slot 5 is skipped
        {4, 1003, 100}, // a stall of a second: one send at once, then on schedule
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.next, NextRepeatSlot(c.slot, milliseconds(c.elapsedMs), milliseconds(10))) << c.elapsedMs;
}

TEST(SavedMessage, OnlyWhatCouldHaveBeenEnteredIsReadBack)
{
    const struct
    {
        const char* json;
        bool valid;
    } cases[] = {
        {R"({"name": "status", "data": "02 00 01 03", "repeatMs": 100, "count": 0, "form": "text"})", true},
        {R"({"name": "", "data": "ff"})", true},
        {R"({"name": "x", "data": "0G"})", false},
        {R"({"name": "x", "data": ""})", false},
        {R"({"name": "x", "data": "01", "repeatMs": -1})", false},
        {R"({"name": "x", "data": "01", "repeatMs": 86400001})", false},
        {R"({"name": "x", "data": "01", "count": 1.5})", false},
        {R"({"name": "x", "data": "01", "count": "3"})", false},
        {R"({"data": "01"})", false},
        {R"({"name": "modbus", "data": "01 03 00 0a 00 02 {crc16-modbus}"})", true},
        {R"({"name": "x", "data": "01 {crc8}"})", false},
    };
    for (const auto& c : cases) {
        const auto message = MessageFromJson(QJsonDocument::fromJson(c.json).object());
        EXPECT_EQ(c.valid, message.has_value()) << c.json;
        if (message) {
            EXPECT_EQ(QJsonDocument::fromJson(c.json).object().value("data"),
                      MessageToJson(*message).value("data"));
        }
    }
    SavedMessage m;
    m.data = QByteArray(BYTE_TEXT_MAX, '\0');
    m.form = ByteForm::Text;
    const auto back = MessageFromJson(MessageToJson(m));
    ASSERT_TRUE(back.has_value());
    EXPECT_EQ(m.data, back->data);
    EXPECT_EQ(ByteForm::Text, back->form);
    EXPECT_NE(m.id, back->id);
}

TEST(MessageSender, ACounterCountsEverySendOfItsMessageAndGetsBackANumberThatNeverWent)
{
    using std::chrono::milliseconds;
    OutgoingQueue queue;
    MessageSender sender(queue);
    const ByteTemplate counted = ParseHexBytes(u"{seq:u8} 2e", BYTE_TEXT_MAX, FieldUse::Allowed).Template();
    // Whatever is queued goes now; each send done queues the next of a repeat.
    const auto later = OutgoingQueue::Clock::now() + std::chrono::hours(1);
    const auto sendNext = [&] {
        const OutgoingQueue::Item* item = queue.Next(later);
        if (!item)
            return std::string("nothing");
        const QByteArray bytes = item->bytes;
        queue.Advance(static_cast<int>(bytes.size()));
        return bytes.toHex().toStdString();
    };

    sender.Start(1, counted, milliseconds(10), 0);
    EXPECT_EQ("002e", sendNext());
    EXPECT_EQ("012e", sendNext());
    // 02 is queued: stopped, it never went and its number is used again.
    sender.Stop(1);
    EXPECT_TRUE(queue.Empty());
    sender.Start(1, counted, milliseconds(0), 0);
    EXPECT_EQ("022e", sendNext());
    // A step of the list is a send of its message.
    sender.StartList({{1, counted, milliseconds(0)}, {2, counted, milliseconds(0)}}, false);
    EXPECT_EQ("032e", sendNext());
    EXPECT_EQ("002e", sendNext());
    // A TCP send under way goes out whole: its number is spent.
    sender.Start(1, counted, milliseconds(0), 0);
    queue.Advance(1);
    sender.Stop(1);
    EXPECT_EQ(5u, sender.NextCounter(1));
    sender.ResetCounters();
    EXPECT_EQ(0u, sender.NextCounter(1));
}

} // namespace
