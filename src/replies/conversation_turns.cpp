#include "replies/conversation_turns.h"

void ConversationTurns::Turn::Add(const std::uint8_t* data, int n, Clock::time_point time)
{
    if (length == 0)
        first = time;
    last = time;
    // FNV-1a, whatever splits the turn into reads; past TURN_MAX only counted.
    for (int i = 0; i < n && length + i < TURN_MAX; ++i)
        hash = (hash ^ data[i]) * 0x100000001b3ull;
    length += n;
}

void ConversationTurns::Sent(const std::uint8_t* data, int length, Clock::time_point time)
{
    if (length <= 0)
        return;
    if (m_side != Side::Korvo)
        m_korvo = Turn();
    m_side = Side::Korvo;
    m_korvo.Add(data, length, time);
}

void ConversationTurns::Received(const std::uint8_t* data, int length, Clock::time_point time)
{
    if (length <= 0)
        return;
    if (m_side != Side::Peer)
        m_peer = Turn();
    m_side = Side::Peer;
    m_peer.Add(data, length, time);
}

ReplyTrigger ConversationTurns::Current() const
{
    ReplyTrigger trigger;
    if (m_side != Side::Peer || m_korvo.length == 0 || m_korvo.length > TURN_MAX || m_peer.length > TURN_MAX)
        return trigger;
    trigger.known = true;
    trigger.hash = m_peer.hash;
    trigger.length = m_peer.length;
    trigger.echo = m_peer.length == m_korvo.length && m_peer.hash == m_korvo.hash;
    trigger.prompt = m_peer.first - m_korvo.last <= LOOP_PROMPT;
    return trigger;
}
