#include "messages/message_sender.h"

#include <algorithm>
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
}

void MessageSender::Start(Id id, ByteTemplate bytes, std::chrono::milliseconds interval, int count)
{
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
    run.ticket = m_queue.Enqueue(Render(id, run.bytes, run.taken), run.start + run.slot * run.interval,
                                 [this, id](OutgoingQueue::Outcome outcome, int) { OnRunDone(id, outcome); });
}

void MessageSender::OnRunDone(Id id, OutgoingQueue::Outcome outcome)
{
    const auto it = m_runs.find(id);
    if (it == m_runs.end())
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
    m_list->ticket = m_queue.Enqueue(Render(step.id, step.bytes, m_list->taken), m_list->due,
                                     [this](OutgoingQueue::Outcome outcome, int) { OnListDone(outcome); });
}

void MessageSender::OnListDone(OutgoingQueue::Outcome outcome)
{
    if (!m_list)
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
    Cancel(id, run.ticket, run.taken);
}

void MessageSender::StopList()
{
    if (!m_list)
        return;
    const Id id = m_list->steps[m_list->index].id;
    const OutgoingQueue::Ticket ticket = m_list->ticket;
    const Taken taken = m_list->taken;
    m_list.reset();
    Cancel(id, ticket, taken);
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
