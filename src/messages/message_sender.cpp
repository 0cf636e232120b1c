#include "messages/message_sender.h"

#include <algorithm>
#include <memory>
#include <utility>

std::int64_t NextRepeatSlot(std::int64_t slot, std::chrono::nanoseconds elapsed,
                            std::chrono::nanoseconds interval)
{
    if (interval.count() <= 0)
        return slot + 1;
    // The latest slot whose time has come: earlier ones are gone.
    return std::max(slot + 1, static_cast<std::int64_t>(elapsed / interval));
}

MessageSender::~MessageSender()
{
    // No outcome may reach this object once it is gone.
    for (const auto& [id, run] : m_runs)
        m_queue.Cancel(run.ticket);
    if (m_list)
        m_queue.Cancel(m_list->ticket);
    for (const auto& [ticket, finishing] : m_finishing)
        m_queue.Cancel(ticket);
}

OutgoingQueue::Ticket
MessageSender::Queue(QByteArray bytes, Clock::time_point due,
                     std::function<void(OutgoingQueue::Ticket, OutgoingQueue::Outcome)> done)
{
    // The queue tells the outcome from a later tick, never from inside Enqueue.
    auto ticket = std::make_shared<OutgoingQueue::Ticket>();
    *ticket = m_queue.Enqueue(std::move(bytes), due,
                              [ticket, done = std::move(done)](OutgoingQueue::Outcome outcome, int) {
                                  done(*ticket, outcome);
                              });
    return *ticket;
}

void MessageSender::Withdraw(Id id, OutgoingQueue::Ticket ticket, const ByteTemplate& bytes, Taken taken)
{
    // The peer has part of it: the rest goes, and it counts.
    if (m_queue.UnderWay(ticket))
        m_finishing[ticket] = {id, bytes};
    else
        Cancel(id, ticket, taken);
}

bool MessageSender::Finished(OutgoingQueue::Ticket ticket, OutgoingQueue::Outcome outcome)
{
    const auto it = m_finishing.find(ticket);
    if (it == m_finishing.end())
        return false;
    const Id id = it->second.id;
    m_finishing.erase(it);
    if (outcome == OutgoingQueue::Outcome::Sent && m_onSent)
        m_onSent(id);
    return true;
}

bool MessageSender::GoingOut(Id id, const ByteTemplate& bytes) const
{
    if (const auto run = m_runs.find(id);
        run != m_runs.end() && run->second.bytes == bytes && m_queue.UnderWay(run->second.ticket))
        return true;
    return std::any_of(m_finishing.begin(), m_finishing.end(),
                       [&](const auto& f) { return f.second.id == id && f.second.bytes == bytes; });
}

void MessageSender::Start(Id id, ByteTemplate bytes, std::chrono::milliseconds interval, int count)
{
    // Once is once: the copy already going out is the one asked for.
    if (interval.count() <= 0 && GoingOut(id, bytes))
        return;
    Stop(id);
    if (bytes.IsEmpty())
        return;
    Run run;
    run.bytes = std::move(bytes);
    run.interval = interval;
    run.count = interval.count() > 0 ? std::max(count, 0) : 1;
    run.start = Clock::now();
    QueueRun(id, m_runs.emplace(id, std::move(run)).first->second);
}

void MessageSender::QueueRun(Id id, Run& run)
{
    run.ticket = Queue(Render(id, run.bytes, run.taken), run.start + run.slot * run.interval,
                       [this, id](OutgoingQueue::Ticket ticket, OutgoingQueue::Outcome outcome) {
                           OnRunDone(id, ticket, outcome);
                       });
}

void MessageSender::OnRunDone(Id id, OutgoingQueue::Ticket ticket, OutgoingQueue::Outcome outcome)
{
    if (Finished(ticket, outcome))
        return;
    const auto it = m_runs.find(id);
    if (it == m_runs.end() || it->second.ticket != ticket)
        return;
    Run& run = it->second;
    if (outcome != OutgoingQueue::Outcome::Sent) {
        // The window has reported a failure already; a drop is the session's end.
        m_runs.erase(it);
        Ended();
        return;
    }
    ++run.sent;
    const bool done = run.count > 0 && run.sent >= run.count;
    if (done) {
        m_runs.erase(it);
    } else {
        run.slot = NextRepeatSlot(run.slot, Clock::now() - run.start, run.interval);
        QueueRun(id, run);
    }
    if (m_onSent)
        m_onSent(id);
    if (done)
        Ended();
}

void MessageSender::StartList(std::vector<Step> steps, bool loop)
{
    StopList();
    steps.erase(std::remove_if(steps.begin(), steps.end(), [](const Step& s) { return s.bytes.IsEmpty(); }),
                steps.end());
    if (steps.empty())
        return;
    m_list = ListRun{std::move(steps), loop, 0, Clock::now(), 0, {}};
    QueueListStep();
}

void MessageSender::SetListLoop(bool loop)
{
    if (m_list)
        m_list->loop = loop;
}

void MessageSender::QueueListStep()
{
    const Step& step = m_list->steps[m_list->index];
    m_list->ticket = Queue(Render(step.id, step.bytes, m_list->taken), m_list->due,
                           [this](OutgoingQueue::Ticket ticket, OutgoingQueue::Outcome outcome) {
                               OnListDone(ticket, outcome);
                           });
}

void MessageSender::OnListDone(OutgoingQueue::Ticket ticket, OutgoingQueue::Outcome outcome)
{
    if (Finished(ticket, outcome))
        return;
    if (!m_list || m_list->ticket != ticket)
        return;
    if (outcome != OutgoingQueue::Outcome::Sent) {
        m_list.reset();
        Ended();
        return;
    }
    const Step& step = m_list->steps[m_list->index];
    const Id id = step.id;
    // Start to start; a step that went late moves the rest along rather
    // than sending them in a burst.
    m_list->due = std::max(m_list->due + step.delay, Clock::now());
    const bool done = ++m_list->index == m_list->steps.size() && !m_list->loop;
    if (done) {
        m_list.reset();
    } else {
        m_list->index %= m_list->steps.size();
        QueueListStep();
    }
    if (m_onSent)
        m_onSent(id);
    if (done)
        Ended();
}

void MessageSender::Stop(Id id)
{
    const auto it = m_runs.find(id);
    if (it == m_runs.end())
        return;
    const Run run = std::move(it->second);
    m_runs.erase(it);
    Withdraw(id, run.ticket, run.bytes, run.taken);
}

void MessageSender::StopList()
{
    if (!m_list)
        return;
    const Step step = m_list->steps[m_list->index];
    const OutgoingQueue::Ticket ticket = m_list->ticket;
    const Taken taken = m_list->taken;
    m_list.reset();
    Withdraw(step.id, ticket, step.bytes, taken);
}

void MessageSender::StopAll()
{
    while (!m_runs.empty())
        Stop(m_runs.begin()->first);
    StopList();
}

std::uint32_t MessageSender::NextCounter(Id id) const
{
    const auto it = m_counters.find(id);
    return it != m_counters.end() ? it->second : 0;
}

QByteArray MessageSender::Render(Id id, const ByteTemplate& bytes, Taken& taken)
{
    // Bytes without a counter leave the counters alone.
    taken.reset();
    if (!bytes.HasCounter())
        return bytes.Render(0);
    taken = m_counters[id]++;
    return bytes.Render(*taken);
}

void MessageSender::Cancel(Id id, OutgoingQueue::Ticket ticket, Taken taken)
{
    if (!m_queue.Cancel(ticket) || !taken)
        return;
    // Unless a later send took the next number.
    const auto it = m_counters.find(id);
    if (it != m_counters.end() && it->second == *taken + 1)
        it->second = *taken;
}

void MessageSender::Ended()
{
    if (m_onEnded)
        m_onEnded();
}
