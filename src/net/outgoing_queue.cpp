#include "net/outgoing_queue.h"

#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

OutgoingQueue::Ticket OutgoingQueue::Enqueue(QByteArray bytes, Clock::time_point due, DoneFunction onDone,
                                             const sockaddr* destination, socklen_t destinationLength)
{
    Item item;
    item.ticket = m_nNextTicket++;
    item.bytes = std::move(bytes);
    item.due = due;
    item.onDone = std::move(onDone);
    if (destination && destinationLength > 0 && destinationLength <= sizeof(sockaddr_storage)) {
        sockaddr_storage copy{};
        std::memcpy(&copy, destination, destinationLength);
        item.destination = copy;
        item.destinationLength = destinationLength;
    }
    const Ticket ticket = item.ticket;
    // After every item due at the same time or earlier; an item under way
    // stays in front whatever its due time.
    auto at = std::upper_bound(m_items.begin(), m_items.end(), due,
                               [](Clock::time_point t, const Item& other) { return t < other.due; });
    if (at == m_items.begin() && !m_items.empty() && m_items.front().sent > 0)
        ++at;
    m_items.insert(at, std::move(item));
    if (m_onQueued)
        m_onQueued();
    return ticket;
}

bool OutgoingQueue::Cancel(Ticket ticket)
{
    const auto it = std::find_if(m_items.begin(), m_items.end(),
                                 [ticket](const Item& item) { return item.ticket == ticket; });
    if (it == m_items.end())
        return false;
    if (it->sent > 0) {
        it->onDone = {};
        return false;
    }
    m_items.erase(it);
    return true;
}

void OutgoingQueue::Clear()
{
    std::vector<DoneFunction> pending;
    for (Item& item : m_items) {
        if (item.onDone)
            pending.push_back(std::move(item.onDone));
    }
    m_items.clear();
    // Told after the queue is empty, so that a handler that queues again
    // (a repeat) finds a consistent queue.
    for (DoneFunction& done : pending)
        done(Outcome::Dropped, 0);
}

std::optional<OutgoingQueue::Clock::time_point> OutgoingQueue::NextDue() const
{
    if (m_items.empty())
        return std::nullopt;
    const Item& front = m_items.front();
    return front.sent > 0 ? Clock::time_point::min() : front.due;
}

const OutgoingQueue::Item* OutgoingQueue::Next(Clock::time_point now) const
{
    if (m_items.empty())
        return nullptr;
    const Item& front = m_items.front();
    return front.sent > 0 || front.due <= now ? &front : nullptr;
}

void OutgoingQueue::Advance(int n, bool wholeItem)
{
    if (m_items.empty() || n <= 0)
        return;
    Item& front = m_items.front();
    front.sent = std::min<qsizetype>(front.sent + static_cast<qsizetype>(n), front.bytes.size());
    if (wholeItem || front.sent >= front.bytes.size())
        Finish(Outcome::Sent, 0);
}

void OutgoingQueue::Fail(int error)
{
    if (!m_items.empty())
        Finish(Outcome::Failed, error);
}

void OutgoingQueue::Finish(Outcome outcome, int error)
{
    DoneFunction done = std::move(m_items.front().onDone);
    m_items.pop_front();
    if (done)
        done(outcome, error);
}
