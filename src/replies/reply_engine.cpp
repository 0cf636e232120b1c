#include "replies/reply_engine.h"

#include "net/endpoint.h"

#include <netinet/in.h>

#include <algorithm>
#include <utility>

CReplyEngine::CReplyEngine(SessionTaps& taps, OutgoingQueue& outgoing, ReplyRuleRows rules)
    : m_taps(taps), m_outgoing(outgoing), m_rules(std::move(rules))
{
    Rebuild();
    m_taps.Add(this);
    if (m_taps.IsOpen())
        OnSessionOpened(m_taps.Current(), TapTime::Now());
}

CReplyEngine::~CReplyEngine()
{
    m_taps.Remove(this);
    DropPending();
}

void CReplyEngine::SetActive(bool on)
{
    if (on == m_bActive)
        return;
    m_bActive = on;
    m_gapTimer.Stop();
    if (!on) {
        DropPending();
        return;
    }
    for (int row = 0; row < m_rules.count(); ++row) {
        if (m_rules.at(row).limit.Paused()) {
            m_rules.at(row).limit.Resume();
            if (m_onRuleChanged)
                m_onRuleChanged(row);
        }
    }
    m_turns.Reset();
    Rebuild();
}

void CReplyEngine::SetGap(int ms)
{
    if (ms == m_nGapMs)
        return;
    m_nGapMs = ms;
    Rebuild();
}

void CReplyEngine::RulesChanged()
{
    Rebuild();
}

void CReplyEngine::Rebuild()
{
    std::vector<ReplyPattern> patterns;
    m_rowOf.clear();
    for (int row = 0; row < m_rules.count(); ++row) {
        const ReplyRule& rule = m_rules.at(row);
        if (!rule.enabled || rule.limit.Paused() || rule.pattern.isEmpty())
            continue;
        patterns.push_back({rule.when, {rule.pattern.begin(), rule.pattern.end()}});
        m_rowOf.push_back(row);
    }
    m_pMatcher = std::make_unique<ReplyMatcher>(patterns, std::chrono::milliseconds(m_nGapMs));
    // One entry per rule and read at most, and a frame's end before the read.
    m_found.clear();
    m_found.shrink_to_fit();
    m_found.reserve(2 * patterns.size());
    m_gapTimer.Stop();
    m_bRebuild = false;
}

std::size_t CReplyEngine::MemoryUse() const
{
    return m_pMatcher->MemoryUse() + m_found.capacity() * sizeof(ReplyMatcher::Match) +
           m_rowOf.capacity() * sizeof(int) + m_pending.size() * sizeof(OutgoingQueue::Ticket) * 2;
}

void CReplyEngine::OnSessionOpened(const SessionInfo& session, const TapTime&)
{
    m_bMatching = !session.telnet;
    m_protocol = session.protocol;
    m_gapTimer.Stop();
    m_pMatcher->Reset();
    m_turns.Reset();
    ResetCounters();
}

void CReplyEngine::OnSessionEnded(const SessionEnd&, const TapTime&)
{
    m_bMatching = false;
    m_gapTimer.Stop();
    ResetCounters();
}

void CReplyEngine::ResetCounters()
{
    // Each session's replies count from 0.
    for (int row = 0; row < m_rules.count(); ++row)
        m_rules.at(row).counter = 0;
}

void CReplyEngine::OnBytesReceived(const std::uint8_t* data, int length, const sockaddr* peer,
                                   const sockaddr*, const TapTime& time)
{
    if (!m_bActive || !m_bMatching || length <= 0)
        return;
    m_turns.Received(data, length, time.steady);
    m_found.clear();
    if (m_protocol == SessionProtocol::Udp) {
        m_pMatcher->Reset();
        m_pMatcher->Feed(data, static_cast<std::size_t>(length), time.steady, m_found);
        m_pMatcher->EndFrame(m_found);
        Fire(peer, m_turns.Current());
        return;
    }
    m_pMatcher->Feed(data, static_cast<std::size_t>(length), time.steady, m_found);
    Fire(nullptr, m_turns.Current());
    ArmGap();
}

void CReplyEngine::OnBytesSent(const std::uint8_t* data, int length, const sockaddr*, const TapTime& time)
{
    if (m_bActive && m_bMatching)
        m_turns.Sent(data, length, time.steady);
}

void CReplyEngine::Fire(const sockaddr* peer, const ReplyTrigger& trigger)
{
    for (const ReplyMatcher::Match& match : m_found) {
        if (static_cast<std::size_t>(match.rule) >= m_rowOf.size() || m_rowOf[match.rule] >= m_rules.count())
            continue;
        const int row = m_rowOf[static_cast<std::size_t>(match.rule)];
        ReplyRule& rule = m_rules.at(row);
        if (!rule.enabled || rule.limit.Paused())
            continue;
        if (peer && rule.reply.Size() > DATAGRAM_MAX) {
            // Sent, it would end the session with the system's complaint.
            rule.limit.Pause();
            m_bRebuild = true;
            if (m_onRuleChanged)
                m_onRuleChanged(row);
            if (m_onTooLong)
                m_onTooLong(row);
            continue;
        }
        // Each time it matched is a firing, as far as the guard lets it.
        const int allowed = rule.limit.Allow(match.decided, match.count, trigger);
        for (int k = 0; k < allowed; ++k) {
            if (m_pending.size() >= PENDING_LIMIT) {
                rule.limit.Pause();
                break;
            }
            ++rule.matched;
            if (rule.reply.IsEmpty())
                continue;
            const auto due = std::max(match.read + std::chrono::milliseconds(rule.delayMs), match.decided);
            // The queue tells the outcome from a later tick, never from inside Enqueue.
            auto ticket = std::make_shared<OutgoingQueue::Ticket>();
            *ticket = m_outgoing.Enqueue(
                rule.reply.Render(rule.reply.HasCounter() ? rule.counter++ : 0), due,
                [this, ticket](OutgoingQueue::Outcome, int) { m_pending.erase(*ticket); }, peer,
                AddressLength(peer));
            m_pending.insert(*ticket);
        }
        if (m_onRuleChanged)
            m_onRuleChanged(row);
        if (rule.limit.Paused()) {
            m_bRebuild = true;
            if (m_onPaused)
                m_onPaused(row);
        }
    }
    // Paused rules are no longer looked for; the stream's state starts afresh.
    if (m_bRebuild)
        Rebuild();
}

void CReplyEngine::ArmGap()
{
    // The deadline only moves later while data comes: the timer, once armed,
    // wakes at the old one and arms itself again.
    if (const auto deadline = m_pMatcher->FrameDeadline(); deadline && !m_gapTimer.IsActive())
        m_gapTimer.StartAt(*deadline);
}

void CReplyEngine::OnGap()
{
    if (!m_bActive || !m_bMatching)
        return;
    m_found.clear();
    m_pMatcher->Quiet(CTickTimer::Clock::now(), m_found);
    Fire(nullptr, m_turns.Current());
    ArmGap();
}

void CReplyEngine::DropPending()
{
    for (const OutgoingQueue::Ticket ticket : m_pending)
        m_outgoing.Cancel(ticket);
    m_pending.clear();
}
