#include "net/session_tap.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

SessionEnd SessionEnd::Failed(int error)
{
    const bool remote = error == ECONNRESET || error == EPIPE || error == ECONNREFUSED;
    return {remote ? SessionSide::Remote : SessionSide::Local, true, error};
}

TapTime TapTime::Now()
{
    return {std::chrono::system_clock::now(), std::chrono::steady_clock::now()};
}

void SessionTaps::Add(SessionTap* tap)
{
    if (tap && std::find(m_taps.begin(), m_taps.end(), tap) == m_taps.end())
        m_taps.push_back(tap);
}

void SessionTaps::Remove(SessionTap* tap)
{
    const auto it = std::find(m_taps.begin(), m_taps.end(), tap);
    if (it == m_taps.end())
        return;
    // A call under way walks the list by index: leave a hole it skips.
    if (m_nDispatching > 0)
        *it = nullptr;
    else
        m_taps.erase(it);
}

template <class Call> void SessionTaps::Each(Call call)
{
    ++m_nDispatching;
    // Taps added during the call hear from the next one on.
    const std::size_t count = m_taps.size();
    for (std::size_t i = 0; i < count; ++i) {
        if (SessionTap* tap = m_taps[i])
            call(*tap);
    }
    if (--m_nDispatching == 0)
        m_taps.erase(std::remove(m_taps.begin(), m_taps.end(), nullptr), m_taps.end());
}

void SessionTaps::Opened(const SessionInfo& session)
{
    if (m_bOpen)
        Ended(SessionEnd::ClosedBy(SessionSide::Local));
    m_bOpen = true;
    m_current = session;
    const TapTime now = TapTime::Now();
    Each([&](SessionTap& tap) { tap.OnSessionOpened(m_current, now); });
}

void SessionTaps::Received(const std::uint8_t* data, int length, const sockaddr* from, const sockaddr* to)
{
    if (m_taps.empty() || length <= 0)
        return;
    if (!from)
        from = reinterpret_cast<const sockaddr*>(&m_current.remote);
    const TapTime now = TapTime::Now();
    Each([&](SessionTap& tap) { tap.OnBytesReceived(data, length, from, to, now); });
}

void SessionTaps::Sent(const std::uint8_t* data, int length, const sockaddr* to)
{
    if (m_taps.empty() || length <= 0)
        return;
    if (!to)
        to = reinterpret_cast<const sockaddr*>(&m_current.remote);
    const TapTime now = TapTime::Now();
    Each([&](SessionTap& tap) { tap.OnBytesSent(data, length, to, now); });
}

void SessionTaps::Ended(const SessionEnd& end)
{
    if (!m_bOpen)
        return;
    m_bOpen = false;
    const TapTime now = TapTime::Now();
    Each([&](SessionTap& tap) { tap.OnSessionEnded(end, now); });
}

bool SessionTaps::ReceiveHeld() const
{
    for (const SessionTap* tap : m_taps) {
        if (tap && tap->HoldsReceive())
            return true;
    }
    return false;
}

bool SessionTaps::SendHeld() const
{
    for (const SessionTap* tap : m_taps) {
        if (tap && tap->HoldsSend())
            return true;
    }
    return false;
}

void SessionTaps::Release()
{
    if (m_onReceiveReleased && !ReceiveHeld())
        m_onReceiveReleased();
    if (m_onSendReleased && !SendHeld())
        m_onSendReleased();
}

SessionInfo DescribeSession(int handle, SessionProtocol protocol, bool server, bool telnet,
                            const sockaddr* udpRemote, socklen_t udpRemoteLength)
{
    SessionInfo info;
    info.protocol = protocol;
    info.server = server;
    info.telnet = telnet;
    socklen_t length = sizeof info.local;
    if (getsockname(handle, reinterpret_cast<sockaddr*>(&info.local), &length) != 0)
        info.local.ss_family = AF_UNSPEC;
    if (protocol == SessionProtocol::Tcp) {
        length = sizeof info.remote;
        if (getpeername(handle, reinterpret_cast<sockaddr*>(&info.remote), &length) != 0)
            info.remote.ss_family = AF_UNSPEC;
    } else if (udpRemote && udpRemoteLength > 0 && udpRemoteLength <= sizeof info.remote) {
        std::memcpy(&info.remote, udpRemote, udpRemoteLength);
    }
    return info;
}
