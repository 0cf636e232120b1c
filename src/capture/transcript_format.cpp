#include "capture/transcript_format.h"

#include "net/endpoint.h"
#include "panes/column_zone.h"
#include "panes/line_format.h"

#include <arpa/inet.h>
#include <net/if.h>
#include <netinet/in.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace {

// A line of the pane ends in CR LF; the transcript's lines end in LF.
constexpr int kLine = HEX_COL_TEXT_STOP + 1;
// Direction, time, peer and length, with room to spare.
constexpr std::size_t kHeaderRoom = 256;

// "address : port" for both families, IPv6 as it is usually written (lower
// case, shortest form) with the interface of a link-local address.
std::string EndpointText(const sockaddr* address)
{
    char host[INET6_ADDRSTRLEN + IF_NAMESIZE + 1] = {};
    unsigned port = 0;
    if (address->sa_family == AF_INET) {
        sockaddr_in in;
        std::memcpy(&in, address, sizeof in);
        inet_ntop(AF_INET, &in.sin_addr, host, sizeof host);
        port = ntohs(in.sin_port);
    } else if (address->sa_family == AF_INET6) {
        sockaddr_in6 in6;
        std::memcpy(&in6, address, sizeof in6);
        inet_ntop(AF_INET6, &in6.sin6_addr, host, INET6_ADDRSTRLEN);
        if (in6.sin6_scope_id != 0) {
            char name[IF_NAMESIZE] = {};
            std::string scope = if_indextoname(in6.sin6_scope_id, name) ? std::string(name)
                                                                        : std::to_string(in6.sin6_scope_id);
            std::snprintf(host + std::strlen(host), sizeof host - std::strlen(host), "%%%s", scope.c_str());
        }
        port = ntohs(in6.sin6_port);
    } else {
        return "unknown";
    }
    return std::string(host) + " : " + std::to_string(port);
}

} // namespace

std::size_t TranscriptFormat::BlockRoom(int length)
{
    const std::size_t lines =
        (static_cast<std::size_t>(length) + HEX_BYTES_PER_LINE - 1) / HEX_BYTES_PER_LINE;
    // FormatHexLine writes a whole row (HEX_LINE_MAX) where only kLine stay.
    return kHeaderRoom + lines * kLine + HEX_LINE_MAX;
}

std::size_t TranscriptFormat::Block(char* out, bool received, std::chrono::system_clock::time_point time,
                                    const sockaddr* peer, const std::uint8_t* data, int length)
{
    char* p = out;
    *p++ = received ? '<' : '>';
    *p++ = ' ';
    p += Time(p, time);
    const std::string& peerText = PeerText(peer);
    *p++ = ' ';
    std::memcpy(p, peerText.data(), peerText.size());
    p += peerText.size();
    p += std::snprintf(p, 32, ", %d bytes\n", length);
    const int lines = (length + HEX_BYTES_PER_LINE - 1) / HEX_BYTES_PER_LINE;
    for (int line = 0; line < lines; ++line) {
        FormatHexLine(data, length, line, p);
        p[kLine - 1] = '\n';
        p += kLine;
    }
    return static_cast<std::size_t>(p - out);
}

std::string TranscriptFormat::Opened(const SessionInfo& session, std::chrono::system_clock::time_point time)
{
    const char* kind = session.telnet                             ? "Telnet"
                       : session.protocol == SessionProtocol::Udp ? "UDP"
                       : session.server                           ? "TCP server"
                                                                  : "TCP client";
    char when[32];
    std::string line = "= ";
    line.append(when, static_cast<std::size_t>(Time(when, time)));
    line += ' ';
    line += kind;
    line += " opened, local ";
    line += EndpointText(reinterpret_cast<const sockaddr*>(&session.local));
    // A UDP session may have no remote of its own: each datagram has its peer.
    if (session.remote.ss_family != AF_UNSPEC) {
        line += ", remote ";
        line += EndpointText(reinterpret_cast<const sockaddr*>(&session.remote));
    }
    line += '\n';
    return line;
}

std::string TranscriptFormat::Ended(const SessionEnd& end, std::chrono::system_clock::time_point time)
{
    char when[32];
    std::string line = "= ";
    line.append(when, static_cast<std::size_t>(Time(when, time)));
    const char* side = end.side == SessionSide::Local ? "the local side" : "the remote side";
    if (!end.byError) {
        line += " ended, closed by ";
        line += side;
    } else {
        line += " ended by error on ";
        line += side;
        // The error's name rather than its text, which follows the language.
        if (end.error != 0) {
            const char* name = strerrorname_np(end.error);
            line += " (";
            line += name ? std::string(name) : std::to_string(end.error);
            line += ')';
        }
    }
    line += '\n';
    return line;
}

int TranscriptFormat::Time(char* out, std::chrono::system_clock::time_point time)
{
    using namespace std::chrono;
    const auto micros = duration_cast<microseconds>(time.time_since_epoch()).count();
    std::int64_t second = micros / 1000000;
    std::int64_t fraction = micros % 1000000;
    if (fraction < 0) {
        fraction += 1000000;
        --second;
    }
    if (second != m_nSecond) {
        const std::time_t t = static_cast<std::time_t>(second);
        std::tm local{};
        localtime_r(&t, &local);
        m_nSecondLength =
            static_cast<int>(std::strftime(m_szSecond, sizeof m_szSecond, "%Y-%m-%d %H:%M:%S", &local));
        m_nSecond = second;
    }
    std::memcpy(out, m_szSecond, static_cast<std::size_t>(m_nSecondLength));
    return m_nSecondLength +
           std::snprintf(out + m_nSecondLength, 8, ".%06lld", static_cast<long long>(fraction));
}

const std::string& TranscriptFormat::PeerText(const sockaddr* peer)
{
    // Another family compares by its family alone.
    const std::size_t length = std::max<std::size_t>(AddressLength(peer), sizeof(sa_family_t));
    if (m_strPeer.empty() || std::memcmp(&m_peer, peer, length) != 0) {
        std::memset(&m_peer, 0, sizeof m_peer);
        std::memcpy(&m_peer, peer, length);
        m_strPeer = EndpointText(peer);
    }
    return m_strPeer;
}
