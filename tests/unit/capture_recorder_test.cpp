// The recorder on a session's taps alone, as korvo-cli uses it: no window,
// no sockets, blocks and addresses handed to the taps by hand, the file read
// back with libpcap.
#include "capture/capture_recorder.h"
#include "capture/capture_writer.h"
#include "network/capture_fixture.h"
#include "platform/strings.h"
#include "support/addresses.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace korvo::test;

namespace {

unsigned Get16(const std::string& p, std::size_t at)
{
    return unsigned(std::uint8_t(p[at])) << 8 | std::uint8_t(p[at + 1]);
}

class Recorder : public testing::Test
{
protected:
    void SetUp() override
    {
        recorder.m_onFailed = [this](const CaptureFailure& f) { failures.push_back(f); };
    }
    QString Path(const QString& name) const { return dir.filePath(name); }
    SessionInfo Session(SessionProtocol protocol, const char* local, const char* remote)
    {
        SessionInfo session;
        session.protocol = protocol;
        session.local = Address(local, 40000);
        session.remote = Address(remote, 5000);
        return session;
    }
    void Send(int length, const sockaddr* to = nullptr)
    {
        const std::string bytes(static_cast<std::size_t>(length), 'x');
        taps.Sent(reinterpret_cast<const std::uint8_t*>(bytes.data()), length, to);
    }

    QTemporaryDir dir;
    SessionTaps taps;
    CaptureRecorder recorder{taps};
    std::vector<CaptureFailure> failures;
};

// One datagram is one packet, whatever its size; TCP blocks go in pieces of
// what one IP packet of their family holds. Nothing is cut short on reading.
TEST_F(Recorder, EachPacketIsWholeAndAsLargeAsItsFamilyAllows)
{
    const struct
    {
        SessionProtocol protocol;
        const char* local;
        int length;
        std::vector<int> packets; // whole IP packets
    } cases[] = {
        {SessionProtocol::Udp, "127.0.0.1", 65507, {20 + 8 + 65507}},
        {SessionProtocol::Udp, "127.0.0.1", 65496, {20 + 8 + 65496}},
        {SessionProtocol::Udp, "::1", 65527, {40 + 8 + 65527}},
        {SessionProtocol::Tcp, "127.0.0.1", 70000, {20 + 20 + 65495, 20 + 20 + 70000 - 65495}},
        {SessionProtocol::Tcp, "::1", 70000, {40 + 20 + 65515, 40 + 20 + 70000 - 65515}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.local << " " << c.length);
        const QString path = Path(QStringLiteral("sizes.pcap"));
        ASSERT_TRUE(recorder.Start(path, CaptureFormat::Pcap));
        taps.Opened(Session(c.protocol, c.local, c.local));
        Send(c.length);
        taps.Ended(SessionEnd::ClosedBy(SessionSide::Local));
        ASSERT_TRUE(recorder.Stop());
        const PcapContents pcap = ReadPcap(path);
        ASSERT_TRUE(pcap.whole);
        // A TCP session's handshake and end come first and last.
        const std::size_t skip = c.protocol == SessionProtocol::Tcp ? 3 : 0;
        ASSERT_EQ(c.packets.size() + 2 * skip, pcap.packets.size());
        for (std::size_t i = 0; i < c.packets.size(); ++i) {
            const std::string& packet = pcap.packets[skip + i];
            EXPECT_EQ(std::size_t(c.packets[i]), packet.size()) << i;
            const bool v6 = (std::uint8_t(packet[0]) >> 4) == 6;
            EXPECT_EQ(unsigned(c.packets[i] - (v6 ? 40 : 0)), Get16(packet, v6 ? 4 : 2)) << i;
        }
    }
    EXPECT_TRUE(failures.empty());
}

// Sends cannot wait: a file that takes nothing while more than the hard
// bound piles up ends the capture, and the message says so.
TEST_F(Recorder, AFileThatFallsTooFarBehindNamesTheCause)
{
    const QString path = Path(QStringLiteral("behind.pcap"));
    ASSERT_EQ(0, ::mkfifo(QFile::encodeName(path).constData(), 0600));
    Fd reader(::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK));
    ASSERT_TRUE(recorder.Start(path, CaptureFormat::Pcap));
    taps.Opened(Session(SessionProtocol::Udp, "127.0.0.1", "127.0.0.1"));
    const sockaddr_storage to = Address("127.0.0.1", 9);
    for (std::size_t sent = 0; sent <= CaptureWriter::HARD_BOUND && recorder.IsRunning(); sent += 60000) {
        Send(60000, Sa(to));
        QCoreApplication::processEvents();
    }
    ASSERT_TRUE(WaitUntil([&] { return !failures.empty(); }));
    EXPECT_FALSE(recorder.IsRunning());
    ASSERT_EQ(1u, failures.size());
    EXPECT_EQ(CaptureFailure::FELL_BEHIND, failures[0].kind);
    EXPECT_EQ(LoadStr(332).arg(path).arg(32), failures[0].text);
}

} // namespace
