#pragma once

// OutgoingQueue: byte strings waiting to go out on the session beside the send
// pane's transfer (saved messages, automatic replies). The main window's send
// timer takes one chunk of the queue per tick: over TCP at most 512 bytes of
// the item under way, over UDP the whole item as one datagram. An item starts
// no earlier than its due time; items go out whole and one after another, in
// the order of their due times (ties in the order they were queued).
//
// No sockets here: the window asks for the next chunk, sends it and reports
// how much went.
#include <QByteArray>

#include <sys/socket.h>

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>

class OutgoingQueue
{
public:
    using Clock = std::chrono::steady_clock;
    using Ticket = std::uint64_t;

    enum class Outcome {
        Sent,    // every byte was accepted
        Failed,  // the send failed; `error` holds the errno value
        Dropped, // the session ended first, or the item was cancelled
    };
    using DoneFunction = std::function<void(Outcome outcome, int error)>;

    struct Item
    {
        Ticket ticket = 0;
        QByteArray bytes;
        Clock::time_point due;
        // UDP: where the datagram goes; none = the Remote Host fields.
        std::optional<sockaddr_storage> destination;
        socklen_t destinationLength = 0;
        // Bytes already accepted (TCP).
        int sent = 0;
        DoneFunction onDone;
    };

    // Queues `bytes` (not empty) to go at `due` or later. `onDone` (may be
    // empty) hears the outcome once; it may queue again.
    Ticket Enqueue(QByteArray bytes, Clock::time_point due, DoneFunction onDone = {},
                   const sockaddr* destination = nullptr, socklen_t destinationLength = 0);
    // Takes the item out unless it is under way; an item under way over TCP
    // finishes, so the peer never sees half of it, but its outcome is no
    // longer reported. True when the item was taken out before any of it
    // went.
    bool Cancel(Ticket ticket);
    // The session ended: every item is dropped.
    void Clear();

    // Part of the item has gone (TCP): it finishes whatever happens.
    bool UnderWay(Ticket ticket) const
    {
        return !m_items.empty() && m_items.front().ticket == ticket && m_items.front().sent > 0;
    }
    bool Empty() const { return m_items.empty(); }
    std::size_t Size() const { return m_items.size(); }
    // When the next chunk may go: now for an item under way, else the
    // earliest due time; none when the queue is empty.
    std::optional<Clock::time_point> NextDue() const;
    // The item whose chunk goes at `now`, or null when none is due.
    const Item* Next(Clock::time_point now) const;

    // The chunk of Next() was sent and `n` bytes (at least 1) were accepted.
    // `wholeItem`: the whole item went at once (a datagram), so it is done
    // whatever `n` says.
    void Advance(int n, bool wholeItem = false);
    // The send of Next()'s chunk failed with `error`.
    void Fail(int error);
    // Called whenever an item was queued, so that the sender can wake.
    std::function<void()> m_onQueued;

private:
    void Finish(Outcome outcome, int error);

    std::deque<Item> m_items;
    Ticket m_nNextTicket = 1;
};
