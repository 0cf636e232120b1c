#pragma once

// MessageSender: saved messages going out through the session's outgoing
// queue, once, repeated, or as the whole list in order. No widgets here.
//
// Each run keeps at most one item in the queue: the next send is queued when
// the one before it is done, for its due time. A repeat is due start to
// start (t0 + k * interval, from the schedule, not from when the previous
// one finished); after a stall it skips the slots already gone instead of
// catching up in a burst. A failed or dropped send
// (the session ended) ends its run; nothing starts again by itself. A TCP
// message whose bytes are going out when its run stops goes on whole and is
// counted when done; Send again meanwhile does not send it a second time.
//
// The bytes of each send are computed when it is queued. A message with a
// counter field counts its sends (its own runs and its list steps alike);
// a send taken back before any of it went gives its number back.
#include "messages/byte_template.h"
#include "net/outgoing_queue.h"

#include <QByteArray>

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <vector>

// The slot of the next repeat after slot `slot` went out, at `elapsed`
// since the first: the next one, late if need be, unless the time of a later
// one has come too; then the latest of those goes at once and the ones
// before it are skipped, so that a stall costs at most one late send and
// never a burst.
std::int64_t NextRepeatSlot(std::int64_t slot, std::chrono::nanoseconds elapsed,
                            std::chrono::nanoseconds interval);

class MessageSender
{
public:
    using Clock = OutgoingQueue::Clock;
    using Id = std::uint64_t;

    struct Step
    {
        Id id = 0;
        ByteTemplate bytes;
        // Before the next step, start to start.
        std::chrono::milliseconds delay{0};
    };

    explicit MessageSender(OutgoingQueue& queue) : m_queue(queue) {}
    ~MessageSender();
    MessageSender(const MessageSender&) = delete;
    MessageSender& operator=(const MessageSender&) = delete;

    // Sends `bytes` (not empty) once when `interval` is 0, else every
    // `interval`, `count` times (0: until stopped). Replaces a run of `id`;
    // once, while those very bytes of `id` are going out, it does nothing.
    void Start(Id id, ByteTemplate bytes, std::chrono::milliseconds interval, int count);
    // Sends every step in order, each `delay` after the one before; again
    // from the first after the last while `loop`.
    void StartList(std::vector<Step> steps, bool loop);
    void SetListLoop(bool loop);

    // What was queued is taken back; a TCP send under way finishes whole and
    // is counted.
    void Stop(Id id);
    void StopList();
    void StopAll();

    bool IsRunning(Id id) const { return m_runs.count(id) != 0; }
    bool IsListRunning() const { return m_list.has_value(); }
    bool IsIdle() const { return m_runs.empty() && !m_list; }

    // The counter the next send of `id` carries.
    std::uint32_t NextCounter(Id id) const;
    // A new session: every counter starts again at 0.
    void ResetCounters() { m_counters.clear(); }

    // A message went out whole.
    std::function<void(Id id)> m_onSent;
    // A run ended by itself (its count reached, a failure, the session's end).
    std::function<void()> m_onEnded;

private:
    // The number a queued send carries, to give back if it never goes.
    using Taken = std::optional<std::uint32_t>;

    struct Run
    {
        ByteTemplate bytes;
        Clock::duration interval{};
        int count = 0;
        int sent = 0;
        Clock::time_point start;
        std::int64_t slot = 0;
        OutgoingQueue::Ticket ticket = 0;
        Taken taken;
    };
    struct ListRun
    {
        std::vector<Step> steps;
        bool loop = false;
        std::size_t index = 0;
        Clock::time_point due;
        OutgoingQueue::Ticket ticket = 0;
        Taken taken;
    };

    // A send of `id` whose run has stopped while its bytes were going out.
    struct Finishing
    {
        Id id = 0;
        ByteTemplate bytes;
    };

    void QueueRun(Id id, Run& run);
    void OnRunDone(Id id, OutgoingQueue::Ticket ticket, OutgoingQueue::Outcome outcome);
    void QueueListStep();
    void OnListDone(OutgoingQueue::Ticket ticket, OutgoingQueue::Outcome outcome);
    // Takes back what `ticket` queued, or lets it finish when it is under way.
    void Withdraw(Id id, OutgoingQueue::Ticket ticket, const ByteTemplate& bytes, Taken taken);
    // The outcome of a send that was left to finish; false when `ticket` was not one.
    bool Finished(OutgoingQueue::Ticket ticket, OutgoingQueue::Outcome outcome);
    bool GoingOut(Id id, const ByteTemplate& bytes) const;
    // Queues `bytes` with an outcome that names its own ticket.
    OutgoingQueue::Ticket Queue(QByteArray bytes, Clock::time_point due,
                                std::function<void(OutgoingQueue::Ticket, OutgoingQueue::Outcome)> done);
    void Ended();
    // The bytes of the next send of `id`, its counter taken.
    QByteArray Render(Id id, const ByteTemplate& bytes, Taken& taken);
    void Cancel(Id id, OutgoingQueue::Ticket ticket, Taken taken);

    OutgoingQueue& m_queue;
    std::map<Id, Run> m_runs;
    std::optional<ListRun> m_list;
    std::map<Id, std::uint32_t> m_counters;
    std::map<OutgoingQueue::Ticket, Finishing> m_finishing;
};
