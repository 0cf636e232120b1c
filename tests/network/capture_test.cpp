// Capture through the real main dialog and loopback peers: the menu entries
// and the title, the transcript of a known exchange across sessions, a disk
// that cannot keep up, Exit while capturing, and files that cannot be opened
// or written. Each failure leaves a valid file and a window that works.
#include "capture/packet_builder.h"
#include "network/capture_fixture.h"
#include "network/net_helpers.h"
#include "network/netns.h"
#include "network/telnet_window.h"

#include "panes/hex_edit.h"
#include "platform/strings.h"
#include "platform/system_error.h"

#include <QFileInfo>
#include <QRegularExpression>

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <thread>

using namespace korvo::test;

namespace {

using std::chrono::seconds;

using Capture = CaptureTest;

TEST_F(Capture, StartAndStopWithNoSessionLeaveAnEmptyValidFile)
{
    const QString title = dlg->windowTitle();
    ASSERT_FALSE(Capturing());
    // No suffix typed: the chosen filter's.
    StartCapture(Path(QStringLiteral("cap")), 2);
    ASSERT_EQ(1u, files.asked.size());
    EXPECT_FALSE(files.asked[0].open);
    EXPECT_TRUE(files.asked[0].overwritePrompt);
    EXPECT_EQ(
        QStringList({QStringLiteral("Packet capture (*.pcap)"), QStringLiteral("Text transcript (*.txt)")}),
        files.asked[0].filters);
    EXPECT_TRUE(Capturing());
    EXPECT_EQ(title + QStringLiteral(" - capturing to cap.txt"), dlg->windowTitle());
    EXPECT_EQ(title, dlg->m_strTitle);
    StopCapture();
    EXPECT_FALSE(Capturing());
    EXPECT_EQ(title, dlg->windowTitle());
    EXPECT_TRUE(QFileInfo::exists(Path(QStringLiteral("cap.txt"))));

    StartCapture(Path(QStringLiteral("empty.pcap")));
    // The dialog starts from the last choice.
    EXPECT_EQ(Path(QStringLiteral("cap.txt")), files.asked[1].initialPath);
    EXPECT_EQ(2, files.asked[1].filterIndex);
    StopCapture();
    const PcapContents pcap = ReadPcap(Path(QStringLiteral("empty.pcap")));
    EXPECT_TRUE(pcap.whole);
    EXPECT_EQ(DLT_RAW, pcap.linkType);
    EXPECT_TRUE(pcap.packets.empty());
    EXPECT_TRUE(boxes.shown.empty());
}

TEST_F(Capture, ATranscriptRecordsBothDirectionsAcrossSessions)
{
    Fd listener = Listener();
    const unsigned short port = LocalPort(listener.get());
    Fd peer = ConnectClient(listener);
    // Before the capture: not in the file.
    PeerSends(peer, "early", 5);
    const unsigned short first = LocalPort(dlg->m_sock.m_hSocket);
    StartCapture(Path(QStringLiteral("t.txt")));
    SendPane("abc");
    EXPECT_EQ("abc", PeerBytes(peer.get(), 3));
    PeerSends(peer, "0123456789ABCDEF!", 22);
    // The peer ends the first session; the capture goes on into the next.
    peer.reset();
    ASSERT_TRUE(WaitStatus(QStringLiteral("Ready")));
    ASSERT_TRUE(Capturing());
    peer = ConnectClient(listener);
    const unsigned short second = LocalPort(dlg->m_sock.m_hSocket);
    PeerSends(peer, "2", 23);
    Click(IDC_BUTTON_CLOSE);
    StopCapture();

    QFile file(Path(QStringLiteral("t.txt")));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    QString text = QString::fromLatin1(file.readAll());
    text.replace(QRegularExpression(QStringLiteral("\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{6}")),
                 QStringLiteral("T"));
    const QString opened =
        QStringLiteral("= T TCP client opened, local 127.0.0.1 : %1, remote 127.0.0.1 : %2\n");
    EXPECT_EQ(
        opened.arg(first).arg(port) +
            QStringLiteral("> T 127.0.0.1 : %1, 3 bytes\n"
                           "00000000| 61 62 63                                         |abc             \n"
                           "< T 127.0.0.1 : %1, 17 bytes\n"
                           "00000000| 30 31 32 33 34 35 36 37  38 39 41 42 43 44 45 46 |0123456789ABCDEF\n"
                           "00000010| 21                                               |!               \n"
                           "= T ended, closed by the remote side\n")
                .arg(port) +
            opened.arg(second).arg(port) +
            QStringLiteral("< T 127.0.0.1 : %1, 1 bytes\n"
                           "00000000| 32                                               |2               \n"
                           "= T ended, closed by the local side\n")
                .arg(port),
        text);
    EXPECT_TRUE(boxes.shown.empty());
}

// Exit during a session, by the Exit button or with the window simply
// destroyed: everything received is in the file, and so is the session's
// end, Korvo's FIN first.
TEST_F(Capture, ExitWhileCapturingWritesEverythingReceivedAndTheEnd)
{
    for (const bool button : {true, false}) {
        SCOPED_TRACE(button);
        if (!dlg) {
            dlg = std::make_unique<CKorvoDlg>();
            ASSERT_TRUE(dlg->Create());
        }
        const QString path = Path(QStringLiteral("exit%1.pcap").arg(button));
        Fd listener = Listener();
        StartCapture(path);
        Fd peer = ConnectClient(listener);
        const unsigned short local = LocalPort(dlg->m_sock.m_hSocket);
        const std::string bytes = Pattern(3 << 20);
        PeerSends(peer, bytes, std::int64_t(bytes.size()));
        if (button) {
            boxes.answers = {IDYES};
            Click(IDC_BUTTON_EXIT);
            EXPECT_EQ(1u, boxes.shown.size());
        }
        dlg.reset();

        const PcapContents pcap = ReadPcap(path);
        EXPECT_TRUE(pcap.whole);
        std::string received;
        for (const std::string& packet : pcap.packets)
            received += TcpPayload(packet);
        EXPECT_TRUE(received == bytes) << received.size();
        ASSERT_GE(pcap.packets.size(), 3u);
        const std::string& fin = pcap.packets[pcap.packets.size() - 3];
        EXPECT_EQ(TCP_FIN | TCP_ACK, std::uint8_t(fin[20 + 13]));
        EXPECT_EQ(local, (std::uint8_t(fin[20]) << 8) | std::uint8_t(fin[21]));
        boxes.shown.clear();
    }
}

// A disk that takes nothing, then a little at a time: a FIFO read in steps.
// Each time receiving stops at the capture's bound: what waits in memory,
// queued or in the batch being written, stays within 4 MiB. Once the disk
// takes data again every byte arrives, in order, in whole records.
TEST_F(Capture, ASlowDiskHoldsReceivingAndLosesNothing)
{
    const QString path = Path(QStringLiteral("slow.pcap"));
    ASSERT_EQ(0, ::mkfifo(QFile::encodeName(path).constData(), 0600));
    Fd disk(::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK));
    ASSERT_GE(disk.get(), 0);
    Fd listener = Listener();
    Fd peer = ConnectClient(listener);
    StartCapture(path);
    ASSERT_TRUE(Capturing());

    const std::string bytes = Pattern(24 << 20);
    std::thread sender([&] { ::send(peer.get(), bytes.data(), bytes.size(), MSG_NOSIGNAL); });
    std::string file;
    const auto readFile = [&](std::size_t n) {
        char buffer[1 << 16];
        while (n > 0) {
            const ssize_t got = ::read(disk.get(), buffer, std::min(n, sizeof buffer));
            if (got <= 0)
                return;
            file.append(buffer, static_cast<std::size_t>(got));
            n -= static_cast<std::size_t>(got);
        }
    };
    ::fcntl(disk.get(), F_SETFL, 0);
    // The pipe's own buffer and the block that goes over the bound.
    const std::int64_t bound = (4 << 20) + ::fcntl(disk.get(), F_GETPIPE_SZ) + 4096;
    std::int64_t last = -1;
    for (int step = 0; step < 4; ++step) {
        SCOPED_TRACE(step);
        ASSERT_TRUE(
            WaitUntil([&] { return dlg->m_taps.ReceiveHeld() && dlg->m_nRecvTotal > last; }, seconds(20)));
        last = dlg->m_nRecvTotal;
        DrainEvents(20);
        EXPECT_EQ(last, dlg->m_nRecvTotal);
        EXPECT_LE(last - std::int64_t(file.size()), bound);
        readFile(1 << 20);
    }

    std::thread reader([&] { readFile(std::size_t(-1)); });
    EXPECT_TRUE(WaitUntil([&] { return dlg->m_nRecvTotal == std::int64_t(bytes.size()); }, seconds(60)));
    sender.join();
    StopCapture();
    reader.join();

    const PcapContents pcap = ReadPcap(fmemopen(file.data(), file.size(), "rb"));
    EXPECT_TRUE(pcap.whole);
    std::string received;
    for (const std::string& packet : pcap.packets)
        received += TcpPayload(packet);
    EXPECT_TRUE(received == bytes) << received.size();
    EXPECT_TRUE(boxes.shown.empty());
}

// Saved messages and replies send up to a datagram per tick over UDP, far
// more than a slow disk takes: the outgoing queue waits while the capture is
// behind, rather than the capture failing, and every datagram that went is
// in the file.
TEST_F(Capture, TheOutgoingQueueWaitsForASlowDisk)
{
    const QString path = Path(QStringLiteral("udp.pcap"));
    ASSERT_EQ(0, ::mkfifo(QFile::encodeName(path).constData(), 0600));
    Fd disk(::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK));
    Fd peer(::socket(AF_INET, SOCK_DGRAM, 0));
    socklen_t length;
    const sockaddr_storage a = Loopback(AF_INET, 0, &length);
    ASSERT_EQ(0, ::bind(peer.get(), reinterpret_cast<const sockaddr*>(&a), length));
    SetMode(MODE_UDP);
    SetFields(QStringLiteral("127.0.0.1"), LocalPort(peer.get()), FreePort(SOCK_DGRAM));
    Click(IDC_BUTTON_CONNECT);
    ASSERT_EQ(STATE_UDP_OPEN, dlg->m_nState);
    StartCapture(path);

    // More than the capture's hard bound of 32 MiB.
    constexpr int kDatagrams = 600, kSize = 60000;
    int sent = 0;
    for (int i = 0; i < kDatagrams; ++i)
        dlg->m_outgoing.Enqueue(
            QByteArray(kSize, char('a' + i % 26)), OutgoingQueue::Clock::now(),
            [&](OutgoingQueue::Outcome o, int) { sent += o == OutgoingQueue::Outcome::Sent; });
    ASSERT_TRUE(WaitUntil([&] { return dlg->m_taps.SendHeld(); }, seconds(20)));
    const int heldAt = sent;
    DrainEvents(20);
    EXPECT_EQ(heldAt, sent);
    EXPECT_LT(heldAt, kDatagrams / 2);

    std::string file;
    std::thread reader([&] {
        ::fcntl(disk.get(), F_SETFL, 0);
        char buffer[1 << 16];
        ssize_t n;
        while ((n = ::read(disk.get(), buffer, sizeof buffer)) > 0)
            file.append(buffer, static_cast<std::size_t>(n));
    });
    EXPECT_TRUE(WaitUntil([&] { return sent == kDatagrams; }, seconds(60)));
    EXPECT_TRUE(Capturing());
    StopCapture();
    reader.join();
    EXPECT_TRUE(boxes.shown.empty()) << boxes.LastText().toStdString();
    const PcapContents pcap = ReadPcap(fmemopen(file.data(), file.size(), "rb"));
    EXPECT_TRUE(pcap.whole);
    ASSERT_EQ(std::size_t(kDatagrams), pcap.packets.size());
    for (const std::string& packet : pcap.packets)
        EXPECT_EQ(std::size_t(20 + 8 + kSize), packet.size());
}

// Deleted while capturing: told once, the capture stops, the session goes on.
TEST_F(Capture, AFileDeletedWhileCapturingIsToldOnce)
{
    Fd listener = Listener();
    Fd peer = ConnectClient(listener);
    const QString path = Path(QStringLiteral("gone.txt"));
    StartCapture(path);
    PeerSends(peer, "before", 6);
    ASSERT_TRUE(WaitUntil([&] { return QFile::remove(path); }));
    ASSERT_TRUE(WaitUntil([&] { return !Capturing(); }));
    DrainEvents();
    ASSERT_EQ(1u, boxes.shown.size());
    EXPECT_EQ(LoadStr(331).arg(path), boxes.LastText());
    EXPECT_EQ(dlg->m_strTitle, dlg->windowTitle());
    ExpectWindowWorks(peer);
}

TEST_F(Capture, AFileThatCannotBeOpenedIsReportedOnce)
{
    Fd listener = Listener();
    Fd peer = ConnectClient(listener);
    const QString path = Path(QStringLiteral("no such folder/cap.pcap"));
    StartCapture(path);
    // Opened on the writer's thread: told a moment later.
    ASSERT_TRUE(WaitUntil([&] { return !boxes.shown.empty(); }));
    DrainEvents();
    ASSERT_EQ(1u, boxes.shown.size());
    EXPECT_TRUE(boxes.LastText().contains(path));
    EXPECT_TRUE(boxes.LastText().contains(SystemErrorText(ENOENT)));
    EXPECT_EQ(dlg->m_strTitle, boxes.shown[0].caption);
    EXPECT_FALSE(Capturing());
    EXPECT_EQ(dlg->m_strTitle, dlg->windowTitle());
    ExpectWindowWorks(peer);
    StartCapture(Path(QStringLiteral("cap.pcap")));
    EXPECT_TRUE(Capturing());
}

// The disk fills up under a flood: one message, the capture stops, the file
// keeps its whole records, and the session goes on as if nothing happened.
TEST_F(Capture, AFullDiskStopsTheCaptureAndLeavesAValidFile)
{
    KORVO_RUN_IN_MOUNT_NS("mkdir -p '" KORVO_BINARY_DIR "/full-disk' && "
                          "mount -t tmpfs -o size=64k korvo-full '" KORVO_BINARY_DIR "/full-disk'");
    const QString path = QStringLiteral(KORVO_BINARY_DIR "/full-disk/cap.pcap");
    Fd listener = Listener();
    Fd peer = ConnectClient(listener);
    StartCapture(path);
    const std::string bytes = Pattern(4 << 20);
    PeerSends(peer, bytes, std::int64_t(bytes.size()));
    ASSERT_TRUE(WaitUntil([&] { return !Capturing(); }));
    DrainEvents();
    ASSERT_EQ(1u, boxes.shown.size());
    EXPECT_TRUE(boxes.LastText().contains(path));
    EXPECT_TRUE(boxes.LastText().contains(SystemErrorText(ENOSPC)));
    EXPECT_EQ(dlg->m_strTitle, dlg->windowTitle());
    EXPECT_EQ(QStringLiteral("Connected"), Status());

    const PcapContents pcap = ReadPcap(path);
    EXPECT_TRUE(pcap.whole);
    EXPECT_GT(pcap.packets.size(), 3u);
    ExpectWindowWorks(peer);
}

} // namespace
