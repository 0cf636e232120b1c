#include "capture/packet_builder.h"

#include <netinet/in.h>

#include <algorithm>
#include <cstring>

namespace {

constexpr int kIPv4Header = 20;
constexpr int kIPv6Header = 40;
constexpr int kTcpHeader = 20;
constexpr int kUdpHeader = 8;
constexpr std::uint8_t kTtl = 64;

// One's complement sum of the bytes taken as 16-bit words in memory order,
// not yet folded. Pieces summed one after another must start at even offsets.
std::uint64_t Sum(const std::uint8_t* data, std::size_t length, std::uint64_t sum)
{
    while (length >= 8) {
        std::uint64_t w;
        std::memcpy(&w, data, 8);
        sum += (w & 0xFFFFFFFFu) + (w >> 32);
        data += 8;
        length -= 8;
    }
    while (length >= 2) {
        std::uint16_t w;
        std::memcpy(&w, data, 2);
        sum += w;
        data += 2;
        length -= 2;
    }
    if (length) {
        // The odd last byte is the first byte of a word padded with zero.
        const std::uint8_t pad[2] = {data[0], 0};
        std::uint16_t w;
        std::memcpy(&w, pad, 2);
        sum += w;
    }
    return sum;
}

std::uint16_t Fold(std::uint64_t sum)
{
    while (sum >> 16)
        sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<std::uint16_t>(~sum & 0xFFFF);
}

void Put16(std::uint8_t* p, unsigned value)
{
    p[0] = static_cast<std::uint8_t>(value >> 8);
    p[1] = static_cast<std::uint8_t>(value);
}

void Put32(std::uint8_t* p, std::uint32_t value)
{
    Put16(p, value >> 16);
    Put16(p + 2, value & 0xFFFF);
}

int AddressBytes(const IpEndpoint& e)
{
    return e.family == AF_INET6 ? 16 : 4;
}

int IpHeaderLength(const IpEndpoint& e)
{
    return e.family == AF_INET6 ? kIPv6Header : kIPv4Header;
}

// Writes the IP header at `p` for `transport` bytes of `protocol`; returns
// the sum of the pseudo-header the transport checksum covers.
std::uint64_t WriteIpHeader(std::uint8_t* p, const IpEndpoint& from, const IpEndpoint& to,
                            std::uint8_t protocol, int transport, std::uint16_t id)
{
    std::uint8_t pseudo[40] = {};
    if (from.family == AF_INET6) {
        std::memset(p, 0, kIPv6Header);
        p[0] = 0x60;
        Put16(p + 4, static_cast<unsigned>(transport));
        p[6] = protocol;
        p[7] = kTtl;
        std::memcpy(p + 8, from.address, 16);
        std::memcpy(p + 24, to.address, 16);
        std::memcpy(pseudo, from.address, 16);
        std::memcpy(pseudo + 16, to.address, 16);
        Put32(pseudo + 32, static_cast<std::uint32_t>(transport));
        pseudo[39] = protocol;
        return Sum(pseudo, 40, 0);
    }
    p[0] = 0x45;
    p[1] = 0;
    Put16(p + 2, static_cast<unsigned>(kIPv4Header + transport));
    Put16(p + 4, id);
    Put16(p + 6, 0x4000); // don't fragment
    p[8] = kTtl;
    p[9] = protocol;
    Put16(p + 10, 0);
    std::memcpy(p + 12, from.address, 4);
    std::memcpy(p + 16, to.address, 4);
    const std::uint16_t check = InternetChecksum(p, kIPv4Header);
    std::memcpy(p + 10, &check, 2);
    std::memcpy(pseudo, from.address, 4);
    std::memcpy(pseudo + 4, to.address, 4);
    pseudo[9] = protocol;
    Put16(pseudo + 10, static_cast<unsigned>(transport));
    return Sum(pseudo, 12, 0);
}

} // namespace

bool IpEndpoint::IsUnspecified() const
{
    return std::all_of(address, address + AddressBytes(*this), [](std::uint8_t b) { return b == 0; });
}

std::optional<IpEndpoint> EndpointOf(const sockaddr* address)
{
    if (!address)
        return std::nullopt;
    IpEndpoint e;
    if (address->sa_family == AF_INET) {
        sockaddr_in in{};
        std::memcpy(&in, address, sizeof in);
        e.family = AF_INET;
        std::memcpy(e.address, &in.sin_addr, 4);
        e.port = ntohs(in.sin_port);
        return e;
    }
    if (address->sa_family == AF_INET6) {
        sockaddr_in6 in6{};
        std::memcpy(&in6, address, sizeof in6);
        e.port = ntohs(in6.sin6_port);
        if (IN6_IS_ADDR_V4MAPPED(&in6.sin6_addr)) {
            e.family = AF_INET;
            std::memcpy(e.address, in6.sin6_addr.s6_addr + 12, 4);
        } else {
            e.family = AF_INET6;
            std::memcpy(e.address, in6.sin6_addr.s6_addr, 16);
            e.scope = in6.sin6_scope_id;
        }
        return e;
    }
    return std::nullopt;
}

IpEndpoint LoopbackEndpoint(int family, std::uint16_t port)
{
    IpEndpoint e;
    e.family = family;
    e.port = port;
    if (family == AF_INET6) {
        e.address[15] = 1;
    } else {
        e.address[0] = 127;
        e.address[3] = 1;
    }
    return e;
}

int MaxPayload(int family, int protocol)
{
    const int transport = protocol == IPPROTO_TCP ? kTcpHeader : kUdpHeader;
    return 65535 - transport - (family == AF_INET6 ? 0 : kIPv4Header);
}

std::uint16_t InternetChecksum(const std::uint8_t* data, std::size_t length)
{
    return Fold(Sum(data, length, 0));
}

std::uint8_t* PrependUdp(std::uint8_t* payload, int length, const IpEndpoint& from, const IpEndpoint& to)
{
    const int transport = kUdpHeader + length;
    std::uint8_t* udp = payload - kUdpHeader;
    std::uint8_t* packet = udp - IpHeaderLength(from);
    std::uint64_t sum = WriteIpHeader(packet, from, to, IPPROTO_UDP, transport, 0);
    Put16(udp, from.port);
    Put16(udp + 2, to.port);
    Put16(udp + 4, static_cast<unsigned>(transport));
    Put16(udp + 6, 0);
    std::uint16_t check = Fold(Sum(payload, static_cast<std::size_t>(length), Sum(udp, kUdpHeader, sum)));
    // Zero would mean "no checksum", which IPv6 does not allow.
    if (check == 0)
        check = 0xFFFF;
    std::memcpy(udp + 6, &check, 2);
    return packet;
}

void TcpConversation::Open(const IpEndpoint& local, const IpEndpoint& remote, bool localConnected,
                           std::uint32_t isn, const PacketSink& sink)
{
    m_local = Side{local, isn, isn, 0};
    const std::uint32_t remoteIsn = isn ^ 0x5A5A0000u;
    m_remote = Side{remote, remoteIsn, remoteIsn, 0};
    Side& client = localConnected ? m_local : m_remote;
    Side& server = localConnected ? m_remote : m_local;
    std::uint8_t packet[PACKET_HEADROOM];
    Segment(client, server, TCP_SYN, packet + PACKET_HEADROOM, 0, true, sink);
    Segment(server, client, TCP_SYN | TCP_ACK, packet + PACKET_HEADROOM, 0, true, sink);
    Control(client, server, TCP_ACK, sink);
}

void TcpConversation::Data(bool fromLocal, std::uint8_t* payload, int length, std::uint8_t* scratch,
                           const PacketSink& sink)
{
    Side& from = fromLocal ? m_local : m_remote;
    Side& to = fromLocal ? m_remote : m_local;
    const int most = MaxPayload(from.endpoint.family, IPPROTO_TCP);
    if (length <= most) {
        Segment(from, to, TCP_PSH | TCP_ACK, payload, length, false, sink);
    } else {
        for (int done = 0; done < length; done += most) {
            const int piece = std::min(length - done, most);
            std::memcpy(scratch + PACKET_HEADROOM, payload + done, static_cast<std::size_t>(piece));
            Segment(from, to, TCP_PSH | TCP_ACK, scratch + PACKET_HEADROOM, piece, false, sink);
        }
    }
    if (from.next - from.acked >= ACK_EVERY)
        Control(to, from, TCP_ACK, sink);
}

void TcpConversation::End(const SessionEnd& end, const PacketSink& sink)
{
    Side& first = end.side == SessionSide::Local ? m_local : m_remote;
    Side& other = end.side == SessionSide::Local ? m_remote : m_local;
    if (end.byError) {
        Control(first, other, TCP_RST | TCP_ACK, sink);
        return;
    }
    Control(first, other, TCP_FIN | TCP_ACK, sink);
    Control(other, first, TCP_FIN | TCP_ACK, sink);
    Control(first, other, TCP_ACK, sink);
}

void TcpConversation::Control(Side& from, Side& to, std::uint8_t flags, const PacketSink& sink)
{
    std::uint8_t packet[PACKET_HEADROOM];
    Segment(from, to, flags, packet + PACKET_HEADROOM, 0, false, sink);
}

void TcpConversation::Segment(Side& from, Side& to, std::uint8_t flags, std::uint8_t* payload, int length,
                              bool synOptions, const PacketSink& sink)
{
    // The SYN's options: the largest segment (as on loopback), NOP, window scale.
    const int tcpLength = kTcpHeader + (synOptions ? 8 : 0);
    std::uint8_t* tcp = payload - tcpLength;
    std::uint8_t* packet = tcp - IpHeaderLength(from.endpoint);
    const bool ack = flags & TCP_ACK;
    const std::uint64_t pseudo =
        WriteIpHeader(packet, from.endpoint, to.endpoint, IPPROTO_TCP, tcpLength + length, from.ipId++);
    Put16(tcp, from.endpoint.port);
    Put16(tcp + 2, to.endpoint.port);
    Put32(tcp + 4, from.next);
    Put32(tcp + 8, ack ? to.next : 0);
    tcp[12] = static_cast<std::uint8_t>((tcpLength / 4) << 4);
    tcp[13] = flags;
    Put16(tcp + 14, 0xFFFF);
    Put16(tcp + 16, 0);
    Put16(tcp + 18, 0);
    if (synOptions) {
        tcp[20] = 2; // maximum segment size
        tcp[21] = 4;
        Put16(tcp + 22, 65483);
        tcp[24] = 1; // NOP
        tcp[25] = 3; // window scale
        tcp[26] = 3;
        tcp[27] = WINDOW_SHIFT;
    }
    const std::uint16_t check =
        Fold(Sum(payload, static_cast<std::size_t>(length), Sum(tcp, tcpLength, pseudo)));
    std::memcpy(tcp + 16, &check, 2);

    from.next += static_cast<std::uint32_t>(length) + ((flags & (TCP_SYN | TCP_FIN)) ? 1 : 0);
    if (ack)
        to.acked = to.next;
    sink(packet, static_cast<int>(payload + length - packet));
}
