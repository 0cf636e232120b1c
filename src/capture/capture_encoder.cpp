#include "capture/capture_encoder.h"

#include "capture/packet_builder.h"
#include "capture/transcript_format.h"

#include <QFileInfo>

#include <pcap/pcap.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <vector>

namespace {

constexpr std::size_t kRouteCacheSize = 64;
constexpr int kSnapLength = 262144;

sockaddr_storage SocketAddress(const IpEndpoint& e, socklen_t* length)
{
    sockaddr_storage a{};
    if (e.family == AF_INET6) {
        auto* in6 = reinterpret_cast<sockaddr_in6*>(&a);
        in6->sin6_family = AF_INET6;
        std::memcpy(&in6->sin6_addr, e.address, 16);
        in6->sin6_port = htons(e.port);
        // A link-local peer is reached through its own interface only.
        in6->sin6_scope_id = e.scope;
        *length = sizeof *in6;
    } else {
        auto* in = reinterpret_cast<sockaddr_in*>(&a);
        in->sin_family = AF_INET;
        std::memcpy(&in->sin_addr, e.address, 4);
        in->sin_port = htons(e.port);
        *length = sizeof *in;
    }
    return a;
}

// The address the system would send from to reach `peer`: what a socket
// bound to all addresses really used. The loopback address when there is no
// route.
IpEndpoint RouteSource(const IpEndpoint& peer)
{
    IpEndpoint source = LoopbackEndpoint(peer.family, 0);
    const int fd = ::socket(peer.family, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return source;
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
    IpEndpoint to = peer;
    if (to.port == 0)
        to.port = 9;
    socklen_t length;
    const sockaddr_storage address = SocketAddress(to, &length);
    sockaddr_storage local{};
    socklen_t localLength = sizeof local;
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), length) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &localLength) == 0) {
        if (const auto e = EndpointOf(reinterpret_cast<const sockaddr*>(&local));
            e && e->family == peer.family)
            source = *e;
    }
    ::close(fd);
    source.port = 0;
    return source;
}

// Each block one packet, written with libpcap onto the capture file.
class PcapEncoder : public CaptureEncoder
{
public:
    PcapEncoder() : m_pScratch(std::make_unique_for_overwrite<std::uint8_t[]>(PACKET_MAX)) {}
    ~PcapEncoder() override
    {
        m_pFile = nullptr;
        if (m_pDumper)
            pcap_dump_close(m_pDumper);
        if (m_pPcap)
            pcap_close(m_pPcap);
    }

    int Begin(CaptureFile& file) override
    {
        m_pFile = &file;
        // libpcap writes through this stream; unbuffered, each piece it
        // writes reaches the capture file at once and in its own place.
        cookie_io_functions_t io{};
        io.write = &PcapEncoder::CookieWrite;
        FILE* stream = fopencookie(this, "w", io);
        if (!stream)
            return errno ? errno : ENOMEM;
        setvbuf(stream, nullptr, _IONBF, 0);
        // As tcpdump: room for the largest IPv6 packet, headers and all.
        m_pPcap = pcap_open_dead_with_tstamp_precision(DLT_RAW, kSnapLength, PCAP_TSTAMP_PRECISION_NANO);
        m_pDumper = m_pPcap ? pcap_dump_fopen(m_pPcap, stream) : nullptr;
        if (!m_pDumper) {
            std::fclose(stream);
            return ENOMEM;
        }
        file.EndRecord();
        return 0;
    }

    void Opened(const SessionInfo& session, Time time, CaptureFile&) override
    {
        m_time = time;
        m_bOpen = true;
        m_bUdp = session.protocol == SessionProtocol::Udp;
        const auto local = EndpointOf(reinterpret_cast<const sockaddr*>(&session.local));
        const auto remote = EndpointOf(reinterpret_cast<const sockaddr*>(&session.remote));
        if (m_bUdp) {
            m_udpLocal = local.value_or(LoopbackEndpoint(AF_INET, 0));
            return;
        }
        // A side the system could not name stands on the loopback.
        const int family = local ? local->family : remote ? remote->family : AF_INET;
        const auto isn = static_cast<std::uint32_t>(time.time_since_epoch().count());
        m_tcp.Open(local.value_or(LoopbackEndpoint(family, 0)), remote.value_or(LoopbackEndpoint(family, 0)),
                   !session.server, isn, Sink());
    }

    void Block(bool received, std::uint8_t* data, int length, const sockaddr* peer, const sockaddr* to,
               Time time, CaptureFile&) override
    {
        if (!m_bOpen)
            return;
        m_time = time;
        if (!m_bUdp) {
            m_tcp.Data(!received, data, length, m_pScratch.get(), Sink());
            return;
        }
        const auto other = EndpointOf(peer);
        if (!other)
            return;
        // Received: where the datagram was sent, a group or a broadcast
        // address as well as one of this machine's, where the socket said.
        const auto destination = received ? EndpointOf(to) : std::nullopt;
        const IpEndpoint local = destination && destination->family == other->family
                                     ? WithPort(*destination, m_udpLocal.port)
                                     : UdpLocal(*other);
        // A datagram is one packet: the system sends and receives none longer
        // than its family's packet holds.
        const int piece = std::min(length, MaxPayload(other->family, IPPROTO_UDP));
        const std::uint8_t* packet =
            received ? PrependUdp(data, piece, *other, local) : PrependUdp(data, piece, local, *other);
        Dump(packet, static_cast<int>(data + piece - packet));
    }

    void Ended(const SessionEnd& end, Time time, CaptureFile&) override
    {
        m_time = time;
        if (m_bOpen && !m_bUdp)
            m_tcp.End(end, Sink());
        m_bOpen = false;
    }

private:
    static ssize_t CookieWrite(void* cookie, const char* data, std::size_t size)
    {
        auto* self = static_cast<PcapEncoder*>(cookie);
        if (self->m_pFile)
            self->m_pFile->Write(data, size);
        return static_cast<ssize_t>(size);
    }

    PacketSink Sink()
    {
        return [this](const std::uint8_t* packet, int length) { Dump(packet, length); };
    }

    void Dump(const std::uint8_t* packet, int length)
    {
        const auto nanos =
            std::chrono::duration_cast<std::chrono::nanoseconds>(m_time.time_since_epoch()).count();
        pcap_pkthdr header{};
        header.ts.tv_sec = static_cast<time_t>(nanos / 1000000000);
        // Nanoseconds: the file was opened with nanosecond precision.
        header.ts.tv_usec = static_cast<suseconds_t>(nanos % 1000000000);
        header.caplen = header.len = static_cast<bpf_u_int32>(length);
        pcap_dump(reinterpret_cast<u_char*>(m_pDumper), &header, packet);
        m_pFile->EndRecord();
    }

    IpEndpoint UdpLocal(const IpEndpoint& peer)
    {
        if (m_udpLocal.family == peer.family && !m_udpLocal.IsUnspecified())
            return m_udpLocal;
        // Bound to all addresses: the one the system sends from to this peer.
        for (const auto& [to, from] : m_routes) {
            if (to.family == peer.family && to.scope == peer.scope &&
                std::memcmp(to.address, peer.address, 16) == 0)
                return WithPort(from, m_udpLocal.port);
        }
        if (m_routes.size() >= kRouteCacheSize)
            m_routes.clear();
        m_routes.emplace_back(peer, RouteSource(peer));
        return WithPort(m_routes.back().second, m_udpLocal.port);
    }

    static IpEndpoint WithPort(IpEndpoint e, std::uint16_t port)
    {
        e.port = port;
        return e;
    }

    CaptureFile* m_pFile = nullptr;
    pcap_t* m_pPcap = nullptr;
    pcap_dumper_t* m_pDumper = nullptr;
    std::unique_ptr<std::uint8_t[]> m_pScratch;
    Time m_time{};
    bool m_bOpen = false;
    bool m_bUdp = false;
    TcpConversation m_tcp;
    IpEndpoint m_udpLocal;
    std::vector<std::pair<IpEndpoint, IpEndpoint>> m_routes;
};

class TranscriptEncoder : public CaptureEncoder
{
public:
    void Opened(const SessionInfo& session, Time time, CaptureFile& file) override
    {
        Line(m_format.Opened(session, time), file);
    }
    void Block(bool received, std::uint8_t* data, int length, const sockaddr* peer, const sockaddr*,
               Time time, CaptureFile& file) override
    {
        char* out = file.Reserve(TranscriptFormat::BlockRoom(length));
        file.Commit(m_format.Block(out, received, time, peer, data, length));
        file.EndRecord();
    }
    void Ended(const SessionEnd& end, Time time, CaptureFile& file) override
    {
        Line(m_format.Ended(end, time), file);
    }

private:
    static void Line(const std::string& line, CaptureFile& file)
    {
        file.Write(line.data(), line.size());
        file.EndRecord();
    }

    TranscriptFormat m_format;
};

} // namespace

CaptureFormat CaptureFormatFor(const QString& path, int filterIndex)
{
    const QString suffix = QFileInfo(path).suffix();
    if (suffix.compare(QLatin1String("pcap"), Qt::CaseInsensitive) == 0)
        return CaptureFormat::Pcap;
    if (suffix.compare(QLatin1String("txt"), Qt::CaseInsensitive) == 0)
        return CaptureFormat::Transcript;
    return filterIndex == 2 ? CaptureFormat::Transcript : CaptureFormat::Pcap;
}

std::unique_ptr<CaptureEncoder> MakeCaptureEncoder(CaptureFormat format)
{
    if (format == CaptureFormat::Transcript)
        return std::make_unique<TranscriptEncoder>();
    return std::make_unique<PcapEncoder>();
}
