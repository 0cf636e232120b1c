// The capture's own logic: packet headers, TCP numbering and the transcript's
// lines. Whole files through a real analyser are in interop/capture_tshark_test.
#include "capture/capture_encoder.h"
#include "capture/packet_builder.h"
#include "capture/transcript_format.h"
#include "support/addresses.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

namespace {

using namespace std::chrono;
using korvo::test::Address;
using korvo::test::Sa;

unsigned Get16(const std::uint8_t* p)
{
    return unsigned(p[0]) << 8 | p[1];
}

std::uint32_t Get32(const std::uint8_t* p)
{
    return std::uint32_t(Get16(p)) << 16 | Get16(p + 2);
}

// What a receiver checks of one IPv4 TCP packet.
struct Segment
{
    unsigned srcPort;
    std::uint8_t flags;
    std::uint32_t seq, ack;
    int length;
    bool checksumsGood;
};

Segment Parse(const std::uint8_t* p, int length)
{
    const std::uint8_t* tcp = p + 20;
    const int tcpLength = (tcp[12] >> 4) * 4;
    // The TCP checksum over the pseudo-header and the segment sums to zero.
    std::vector<std::uint8_t> pseudo(p + 12, p + 20);
    pseudo.insert(pseudo.end(),
                  {0, IPPROTO_TCP, std::uint8_t((length - 20) >> 8), std::uint8_t(length - 20)});
    pseudo.insert(pseudo.end(), tcp, p + length);
    const bool good = InternetChecksum(p, 20) == 0 && InternetChecksum(pseudo.data(), pseudo.size()) == 0 &&
                      int(Get16(p + 2)) == length;
    return {Get16(tcp), tcp[13], Get32(tcp + 4), Get32(tcp + 8), length - 20 - tcpLength, good};
}

TEST(CapturePackets, InternetChecksum)
{
    const struct
    {
        std::vector<std::uint8_t> bytes;
        std::uint8_t first, second;
    } cases[] = {
        // An IPv4 header with its checksum field zeroed.
        {{0x45, 0, 0, 0x73, 0, 0, 0x40, 0, 0x40, 0x11, 0, 0, 0xc0, 0xa8, 0, 1, 0xc0, 0xa8, 0, 0xc7},
         0xb8,
         0x61},
        {std::vector<std::uint8_t>(20, 0), 0xff, 0xff},
        // An odd last byte counts as the high half of a word.
        {{0x01, 0x02, 0x03}, 0xfb, 0xfd},
        // Carries wrap around.
        {std::vector<std::uint8_t>(64, 0xff), 0x00, 0x00},
    };
    for (const auto& c : cases) {
        const std::uint16_t sum = InternetChecksum(c.bytes.data(), c.bytes.size());
        std::uint8_t bytes[2];
        std::memcpy(bytes, &sum, 2);
        EXPECT_EQ(c.first, bytes[0]);
        EXPECT_EQ(c.second, bytes[1]);
    }
}

TEST(CapturePackets, AnIPv4MappedAddressIsIPv4)
{
    const auto mapped = EndpointOf(Sa(Address("::ffff:10.1.2.3", 7)));
    ASSERT_TRUE(mapped);
    EXPECT_EQ(AF_INET, mapped->family);
    EXPECT_EQ(0, std::memcmp(mapped->address, "\x0a\x01\x02\x03", 4));
    EXPECT_EQ(7, mapped->port);
    EXPECT_EQ(AF_INET6, EndpointOf(Sa(Address("::1", 7)))->family);
}

// A TCP conversation from its handshake to its end: who sends, which flags,
// and sequence and acknowledgement numbers relative to each side's first.
TEST(CapturePackets, TcpNumbersFollowTheBytesOfEachDirection)
{
    const IpEndpoint local = *EndpointOf(Sa(Address("127.0.0.1", 40000)));
    const IpEndpoint remote = *EndpointOf(Sa(Address("127.0.0.2", 5000)));
    struct Expected
    {
        unsigned from;
        std::uint8_t flags;
        std::uint32_t seq, ack;
        int length;
    };
    const SessionEnd ends[] = {SessionEnd::ClosedBy(SessionSide::Local),
                               SessionEnd::ClosedBy(SessionSide::Remote), SessionEnd::Failed(ETIMEDOUT),
                               SessionEnd::Failed(ECONNRESET)};
    for (const SessionEnd& end : ends) {
        for (const bool connected : {true, false}) {
            SCOPED_TRACE(testing::Message() << "local " << (end.side == SessionSide::Local) << " byError "
                                            << end.byError << " connected " << connected);
            std::vector<Segment> got;
            const PacketSink sink = [&](const std::uint8_t* p, int n) { got.push_back(Parse(p, n)); };
            std::vector<std::uint8_t> block(PACKET_HEADROOM + 70000, 'x');
            std::vector<std::uint8_t> scratch(PACKET_MAX);
            TcpConversation tcp;
            const std::uint32_t isn = 0xFFFFFFF0u; // the numbers wrap
            tcp.Open(local, remote, connected, isn, sink);
            tcp.Data(true, block.data() + PACKET_HEADROOM, 5, scratch.data(), sink);
            tcp.Data(false, block.data() + PACKET_HEADROOM, 3, scratch.data(), sink);
            // Longer than a packet holds: two segments.
            tcp.Data(false, block.data() + PACKET_HEADROOM, 70000, scratch.data(), sink);
            tcp.End(end, sink);

            const unsigned client = connected ? 40000 : 5000, server = connected ? 5000 : 40000;
            const std::uint32_t r = isn ^ 0x5A5A0000u;
            const std::uint32_t cIsn = connected ? isn : r, sIsn = connected ? r : isn;
            std::vector<Expected> want = {
                {client, TCP_SYN, cIsn, 0, 0},
                {server, TCP_SYN | TCP_ACK, sIsn, cIsn + 1, 0},
                {client, TCP_ACK, cIsn + 1, sIsn + 1, 0},
                {40000, TCP_PSH | TCP_ACK, isn + 1, r + 1, 5},
                {5000, TCP_PSH | TCP_ACK, r + 1, isn + 6, 3},
                {5000, TCP_PSH | TCP_ACK, r + 4, isn + 6, 65495},
                {5000, TCP_PSH | TCP_ACK, r + 4 + 65495, isn + 6, 70000 - 65495},
            };
            // The side that closed or failed sends first.
            const std::uint32_t last = r + 70004;
            const bool local = end.side == SessionSide::Local;
            if (end.byError && local) {
                want.push_back({40000, TCP_RST | TCP_ACK, isn + 6, last, 0});
            } else if (end.byError) {
                want.push_back({5000, TCP_RST | TCP_ACK, last, isn + 6, 0});
            } else if (local) {
                want.push_back({40000, TCP_FIN | TCP_ACK, isn + 6, last, 0});
                want.push_back({5000, TCP_FIN | TCP_ACK, last, isn + 7, 0});
                want.push_back({40000, TCP_ACK, isn + 7, last + 1, 0});
            } else {
                want.push_back({5000, TCP_FIN | TCP_ACK, last, isn + 6, 0});
                want.push_back({40000, TCP_FIN | TCP_ACK, isn + 6, last + 1, 0});
                want.push_back({5000, TCP_ACK, last + 1, isn + 7, 0});
            }
            ASSERT_EQ(want.size(), got.size());
            for (std::size_t i = 0; i < want.size(); ++i) {
                SCOPED_TRACE(i);
                EXPECT_EQ(want[i].from, got[i].srcPort);
                EXPECT_EQ(want[i].flags, got[i].flags);
                EXPECT_EQ(want[i].seq, got[i].seq);
                EXPECT_EQ(want[i].ack, got[i].ack);
                EXPECT_EQ(want[i].length, got[i].length);
                EXPECT_TRUE(got[i].checksumsGood);
            }
        }
    }
}

TEST(CapturePackets, ALongOneWayStreamIsAcknowledged)
{
    const IpEndpoint local = LoopbackEndpoint(AF_INET6, 40000);
    const IpEndpoint remote = LoopbackEndpoint(AF_INET6, 5000);
    std::vector<std::uint8_t> block(PACKET_HEADROOM + 4096), scratch(PACKET_MAX);
    int pureAcks = 0, data = 0;
    const PacketSink sink = [&](const std::uint8_t* p, int n) {
        (n == 40 + 20 ? pureAcks : data) += 1;
        // IPv6 headers say how long the rest is.
        EXPECT_EQ(n - 40, int(Get16(p + 4)));
    };
    TcpConversation tcp;
    tcp.Open(local, remote, true, 1, sink);
    pureAcks = data = 0;
    for (int i = 0; i < 1024; ++i)
        tcp.Data(false, block.data() + PACKET_HEADROOM, 4096, scratch.data(), sink);
    EXPECT_EQ(1024, data);
    EXPECT_EQ(4, pureAcks); // one per TcpConversation::ACK_EVERY
}

TEST(CapturePackets, TheFileSuffixPicksTheFormatElseTheFilter)
{
    const struct
    {
        const char* path;
        int filter;
        CaptureFormat format;
    } cases[] = {
        {"/tmp/a.pcap", 2, CaptureFormat::Pcap},      {"/tmp/a.TXT", 1, CaptureFormat::Transcript},
        {"/tmp/a.log", 2, CaptureFormat::Transcript}, {"/tmp/a.log", 1, CaptureFormat::Pcap},
        {"/tmp/pcap", 2, CaptureFormat::Transcript},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.format, CaptureFormatFor(QString::fromLatin1(c.path), c.filter)) << c.path;
}

TEST(CaptureTranscript, AKnownExchange)
{
    setenv("TZ", "UTC", 1);
    tzset();
    const auto at = [](int second, int micro) {
        return system_clock::time_point(seconds(1741083072 + second) + microseconds(micro));
    };
    SessionInfo tcp;
    tcp.local = Address("127.0.0.1", 40312);
    tcp.remote = Address("127.0.0.1", 5000);
    SessionInfo udp;
    udp.protocol = SessionProtocol::Udp;
    udp.local = Address("0.0.0.0", 1470);

    TranscriptFormat format;
    std::string text = format.Opened(tcp, at(0, 345678));
    const auto block = [&](bool received, const char* bytes, const sockaddr_storage& peer, int second,
                           int micro) {
        const int length = static_cast<int>(std::strlen(bytes));
        std::string out(TranscriptFormat::BlockRoom(length), '\0');
        out.resize(format.Block(out.data(), received, at(second, micro), Sa(peer),
                                reinterpret_cast<const std::uint8_t*>(bytes), length));
        text += out;
    };
    block(false, "hello", tcp.remote, 0, 400001);
    block(true, "0123456789abcdef\r\nOK\x01", tcp.remote, 1, 7);
    text += format.Ended(SessionEnd::Failed(ECONNRESET), at(2, 0));
    text += format.Opened(udp, at(3, 999999));
    block(true, "?", Address("::1", 9), 4, 0);
    // One spelling for every peer: lower case, the scope by name, " : ".
    block(false, "!", Address("FE80::AB:1%1", 7), 4, 1);
    block(true, "!", Address("2001:DB8::1", 8), 4, 2);
    text += format.Ended(SessionEnd::ClosedBy(SessionSide::Local), at(5, 0));
    text += format.Opened(tcp, at(6, 0));
    text += format.Ended(SessionEnd::ClosedBy(SessionSide::Remote), at(7, 0));
    text += format.Opened(tcp, at(8, 0));
    text += format.Ended(SessionEnd::Failed(ETIMEDOUT), at(9, 0));

    EXPECT_EQ(
        "= 2025-03-04 10:11:12.345678 TCP client opened, local 127.0.0.1 : 40312, remote 127.0.0.1 : 5000\n"
        "> 2025-03-04 10:11:12.400001 127.0.0.1 : 5000, 5 bytes\n"
        "00000000| 68 65 6c 6c 6f                                   |hello           \n"
        "< 2025-03-04 10:11:13.000007 127.0.0.1 : 5000, 21 bytes\n"
        "00000000| 30 31 32 33 34 35 36 37  38 39 61 62 63 64 65 66 |0123456789abcdef\n"
        "00000010| 0d 0a 4f 4b 01                                   |..OK.           \n"
        "= 2025-03-04 10:11:14.000000 ended by error on the remote side (ECONNRESET)\n"
        "= 2025-03-04 10:11:15.999999 UDP opened, local 0.0.0.0 : 1470\n"
        "< 2025-03-04 10:11:16.000000 ::1 : 9, 1 bytes\n"
        "00000000| 3f                                               |?               \n"
        "> 2025-03-04 10:11:16.000001 fe80::ab:1%lo : 7, 1 bytes\n"
        "00000000| 21                                               |!               \n"
        "< 2025-03-04 10:11:16.000002 2001:db8::1 : 8, 1 bytes\n"
        "00000000| 21                                               |!               \n"
        "= 2025-03-04 10:11:17.000000 ended, closed by the local side\n"
        "= 2025-03-04 10:11:18.000000 TCP client opened, local 127.0.0.1 : 40312, remote 127.0.0.1 : 5000\n"
        "= 2025-03-04 10:11:19.000000 ended, closed by the remote side\n"
        "= 2025-03-04 10:11:20.000000 TCP client opened, local 127.0.0.1 : 40312, remote 127.0.0.1 : 5000\n"
        "= 2025-03-04 10:11:21.000000 ended by error on the local side (ETIMEDOUT)\n",
        text);
}

} // namespace
