#pragma once

// ConversationTurns: the session's bytes as turns, Korvo's and the peer's,
// each held as a hash, so that the runaway guard can tell a loop from a
// peer's own requests. A turn lasts while one side sends and the other does
// not; Korvo's ends when the peer's begins, and the other way round.
#include <chrono>
#include <cstdint>

// What set a rule off: the peer's turn so far, against Korvo's before it.
struct ReplyTrigger
{
    // Korvo had a turn, and both turns are short enough to compare.
    bool known = false;
    // The peer's turn.
    std::uint64_t hash = 0;
    std::int64_t length = 0;
    // It is Korvo's turn before it, byte for byte: an echo.
    bool echo = false;
    // It began within LOOP_PROMPT of the end of Korvo's turn: an answer
    // rather than a request of the peer's own.
    bool prompt = false;
};

class ConversationTurns
{
public:
    using Clock = std::chrono::steady_clock;
    // Longer turns are not compared: a reply this long over TCP takes ten
    // ticks and more, too slow to make a runaway loop, and over UDP a
    // datagram that Korvo receives is at most 4,096 bytes.
    static constexpr std::int64_t TURN_MAX = 8192;
    static constexpr std::chrono::milliseconds LOOP_PROMPT{5};

    void Reset() { *this = ConversationTurns(); }
    void Sent(const std::uint8_t* data, int length, Clock::time_point time);
    void Received(const std::uint8_t* data, int length, Clock::time_point time);
    ReplyTrigger Current() const;

private:
    struct Turn
    {
        std::uint64_t hash = 0xcbf29ce484222325ull;
        std::int64_t length = 0;
        Clock::time_point first, last;

        void Add(const std::uint8_t* data, int length, Clock::time_point time);
    };
    enum class Side { None, Korvo, Peer };

    Side m_side = Side::None;
    Turn m_korvo;
    Turn m_peer;
};
