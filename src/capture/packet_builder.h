#pragma once

// The packets of a capture: each block of the session becomes one IPv4 or
// IPv6 packet between the session's own endpoints, so that an analyser's
// conversations, stream following and port-based dissectors work on it. TCP
// sessions get a synthetic handshake, sequence and acknowledgement numbers
// that follow the bytes of each direction, and a FIN or RST at the end. No
// widgets, no files: the capture writer hands the packets to libpcap.
#include "net/session_tap.h"

#include <sys/socket.h>

#include <cstdint>
#include <functional>
#include <optional>

enum : int {
    // Room for the largest headers (IPv6 and TCP with the SYN's options) in
    // front of a payload: blocks are queued with it, so headers are written
    // in place.
    PACKET_HEADROOM = 72,
    // The most payload any packet carries: a UDP datagram over IPv6, whose
    // 16-bit payload length leaves 65,527 bytes after the UDP header.
    PACKET_MAX_PAYLOAD = 65527,
    PACKET_MAX = PACKET_HEADROOM + PACKET_MAX_PAYLOAD,
};

// The most payload one packet of `family` carries for `protocol`
// (IPPROTO_TCP or IPPROTO_UDP): IPv4's 16-bit length counts its own header,
// IPv6's does not. TCP 65,495 and 65,515, UDP 65,507 and 65,527.
int MaxPayload(int family, int protocol);

struct IpEndpoint
{
    int family = AF_INET; // AF_INET or AF_INET6
    std::uint8_t address[16] = {};
    std::uint16_t port = 0;
    // IPv6: the interface of a link-local address, 0 for none.
    std::uint32_t scope = 0;

    bool IsUnspecified() const;
    bool operator==(const IpEndpoint&) const = default;
};

// IPv4, or IPv6 (an IPv4-mapped IPv6 address becomes IPv4); nothing for other
// families.
std::optional<IpEndpoint> EndpointOf(const sockaddr* address);
// 127.0.0.1 or ::1, with the port.
IpEndpoint LoopbackEndpoint(int family, std::uint16_t port);

// The Internet checksum of the bytes: the one's complement of their one's
// complement sum, in the order the bytes are in memory.
std::uint16_t InternetChecksum(const std::uint8_t* data, std::size_t length);

// Receives each packet built: `packet` points at the IP header.
using PacketSink = std::function<void(const std::uint8_t* packet, int length)>;

enum : std::uint8_t {
    TCP_FIN = 0x01,
    TCP_SYN = 0x02,
    TCP_RST = 0x04,
    TCP_PSH = 0x08,
    TCP_ACK = 0x10,
};

// Writes the IP and UDP headers into the PACKET_HEADROOM bytes before
// `payload` (length ≤ MaxPayload of the family); returns where the packet starts.
std::uint8_t* PrependUdp(std::uint8_t* payload, int length, const IpEndpoint& from, const IpEndpoint& to);

// One TCP connection as seen from its two ends. Data from either side is
// acknowledged by the other's next segment, or by a pure ACK once a stretch
// of unacknowledged bytes has built up, so that no window ever looks full.
class TcpConversation
{
public:
    // SYN, SYN-ACK, ACK; the side that connected sends the SYN.
    // `isn`: the first sequence number, any value.
    void Open(const IpEndpoint& local, const IpEndpoint& remote, bool localConnected, std::uint32_t isn,
              const PacketSink& sink);
    // `payload` has PACKET_HEADROOM writable bytes before it; over what one
    // segment of the family holds it goes out in pieces through `scratch`
    // (PACKET_MAX bytes).
    void Data(bool fromLocal, std::uint8_t* payload, int length, std::uint8_t* scratch,
              const PacketSink& sink);
    // The side that closed sends the first FIN, the other answers with its
    // own, and the first acknowledges it; the side that failed sends a RST.
    void End(const SessionEnd& end, const PacketSink& sink);

    // Unacknowledged bytes of one direction that bring on a pure ACK.
    static constexpr std::uint32_t ACK_EVERY = 1u << 20;
    // The window shift both sides offer in their SYN: 65,535 << 7, about 8 MiB.
    static constexpr int WINDOW_SHIFT = 7;

private:
    struct Side
    {
        IpEndpoint endpoint;
        std::uint32_t next = 0;  // the next sequence number this side sends
        std::uint32_t acked = 0; // how far the other side has acknowledged it
        std::uint16_t ipId = 0;
    };
    // Writes the headers before `payload` and hands the packet on.
    void Segment(Side& from, Side& to, std::uint8_t flags, std::uint8_t* payload, int length, bool synOptions,
                 const PacketSink& sink);
    void Control(Side& from, Side& to, std::uint8_t flags, const PacketSink& sink);

    Side m_local;
    Side m_remote;
};
