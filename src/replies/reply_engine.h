#pragma once

// CReplyEngine: the rules at work. It hears the main window's session through
// its taps, matches what the session receives (never while the Telnet window
// owns the connection) and queues each reply on the window's outgoing queue,
// due at the time of the read that completed the match plus the rule's delay,
// with its fields computed then (counters from 0 in each session).
// Over UDP each datagram is matched on its own and answered at its source.
// Only enabled rules that are not paused are matched: a rule that pauses is
// taken out of the matcher at once.
#include "net/outgoing_queue.h"
#include "net/session_tap.h"
#include "platform/tick_timer.h"
#include "replies/conversation_turns.h"
#include "replies/reply_matcher.h"
#include "replies/reply_rule.h"

#include <functional>
#include <memory>
#include <unordered_set>
#include <vector>

// The rules by row, as the window's list holds them.
struct ReplyRuleRows
{
    std::function<int()> count;
    std::function<ReplyRule&(int row)> at;
};

class CReplyEngine : public SessionTap
{
public:
    static constexpr int GAP_DEFAULT_MS = 50;
    // Replies waiting in the queue at most: a rule that fires while they are
    // this many is paused as a runaway, so the queue cannot grow without end.
    static constexpr std::size_t PENDING_LIMIT = 10000;
    // The most one UDP datagram holds.
    static constexpr qsizetype DATAGRAM_MAX = 65507;

    // The engine reads the rules and counts in them.
    CReplyEngine(SessionTaps& taps, OutgoingQueue& outgoing, ReplyRuleRows rules);
    ~CReplyEngine() override;
    CReplyEngine(const CReplyEngine&) = delete;
    CReplyEngine& operator=(const CReplyEngine&) = delete;

    // "Reply automatically". On lets paused rules go again and starts matching
    // afresh; off takes back the replies that have not gone yet.
    void SetActive(bool on);
    bool IsActive() const { return m_bActive; }
    void SetGap(int ms);
    int Gap() const { return m_nGapMs; }
    // Patterns, the rules' order or which are enabled changed: matching
    // starts afresh.
    void RulesChanged();
    // How many rules the matcher looks for.
    int MatchedRules() const { return static_cast<int>(m_rowOf.size()); }
    // Bytes held for matching: the matcher and what one read found.
    std::size_t MemoryUse() const;

    // A rule's counter or pause changed.
    std::function<void(int row)> m_onRuleChanged;
    // A rule was paused by the runaway guard. Called from inside a socket
    // handler: whoever shows something modal must do it later.
    std::function<void(int row)> m_onPaused;
    // A rule was paused because its reply cannot go as one datagram; called
    // as m_onPaused is.
    std::function<void(int row)> m_onTooLong;

    void OnSessionOpened(const SessionInfo& session, const TapTime&) override;
    void OnBytesReceived(const std::uint8_t* data, int length, const sockaddr* peer, const sockaddr* to,
                         const TapTime& time) override;
    void OnBytesSent(const std::uint8_t* data, int length, const sockaddr* peer,
                     const TapTime& time) override;
    void OnSessionEnded(const SessionEnd& end, const TapTime&) override;

private:
    void Rebuild();
    // `trigger`: the turn of the peer's that set the matches off.
    void Fire(const sockaddr* peer, const ReplyTrigger& trigger);
    void ArmGap();
    void OnGap();
    void DropPending();
    void ResetCounters();

    SessionTaps& m_taps;
    OutgoingQueue& m_outgoing;
    ReplyRuleRows m_rules;
    bool m_bActive = false;
    // A session is open and not the Telnet window's.
    bool m_bMatching = false;
    SessionProtocol m_protocol = SessionProtocol::Tcp;
    int m_nGapMs = GAP_DEFAULT_MS;
    std::unique_ptr<ReplyMatcher> m_pMatcher;
    // The row of each of the matcher's patterns.
    std::vector<int> m_rowOf;
    // A rule paused while its matches were handled: the matcher is made
    // again once they are.
    bool m_bRebuild = false;
    std::vector<ReplyMatcher::Match> m_found;
    CTickTimer m_gapTimer{[this] { OnGap(); }};
    std::unordered_set<OutgoingQueue::Ticket> m_pending;
    // For the runaway guard: who said what last.
    ConversationTurns m_turns;
};
