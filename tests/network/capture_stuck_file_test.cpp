// A capture file that takes nothing never freezes the window: a FIFO that no
// one opens, a FIFO whose reader stopped reading, a terminal no one reads (a
// write that blocks in the system, as on a hung network mount). Start, Stop
// and Exit come back; Stop and Exit say what was not written.
//
// A rescuer unblocks the file after a while, so that a window that does
// wait on it fails the test instead of hanging it.
#include "network/capture_fixture.h"

#include "capture/capture_recorder.h"
#include "platform/strings.h"

#include <QDir>
#include <QRegularExpression>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <condition_variable>
#include <cstdlib>
#include <mutex>

using namespace korvo::test;

namespace {

using std::chrono::seconds;

enum class Stuck { FifoWithoutReader, FifoReaderStopped, TerminalNobodyReads };

// The file under test and what frees it: the FIFO's reader, or the
// terminal's other end, which reads everything once rescuing starts.
class StuckFile
{
public:
    StuckFile(Stuck kind, const QString& filePath) : path(filePath), m_kind(kind)
    {
        if (kind == Stuck::TerminalNobodyReads) {
            // Named like a capture file, which the file dialog would make of it.
            m_other = Fd(::posix_openpt(O_RDWR | O_NOCTTY));
            ::grantpt(m_other.get());
            ::unlockpt(m_other.get());
            QFile::link(QString::fromLocal8Bit(::ptsname(m_other.get())), path);
        } else {
            ::mkfifo(QFile::encodeName(path).constData(), 0600);
            if (kind == Stuck::FifoReaderStopped)
                m_other = Fd(::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK));
        }
        m_rescuer = std::thread([this] {
            std::unique_lock lock(m_mutex);
            if (m_wake.wait_for(lock, seconds(15), [this] { return m_bDone; }))
                return;
            rescued = true;
            lock.unlock();
            Drain();
        });
    }
    ~StuckFile()
    {
        {
            std::lock_guard lock(m_mutex);
            m_bDone = true;
        }
        m_wake.notify_one();
        m_rescuer.join();
    }
    // Lets go of the far end: a writer still stuck on it fails and ends.
    void Release() { m_other.reset(); }

    QString path;
    std::atomic<bool> rescued{false};

private:
    void Drain()
    {
        Fd reader;
        int fd = m_other.get();
        if (m_kind == Stuck::FifoWithoutReader) {
            reader = Fd(::open(QFile::encodeName(path).constData(), O_RDONLY));
            fd = reader.get();
        }
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
        char buffer[1 << 16];
        while (::read(fd, buffer, sizeof buffer) > 0) {
        }
    }

    Stuck m_kind;
    Fd m_other;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_bDone = false;
    std::thread m_rescuer;
};

// Threads of the process by name.
int ThreadsNamed(const char* name)
{
    int count = 0;
    for (const QString& task :
         QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile comm(QStringLiteral("/proc/self/task/%1/comm").arg(task));
        if (comm.open(QIODevice::ReadOnly) && comm.readAll().trimmed() == name)
            ++count;
    }
    return count;
}

// The message of a Stop that could not write everything: the file, the
// wait and how much of the session was not written.
void ExpectNotWrittenMessage(const QString& text, const QString& path)
{
    const QString number = QStringLiteral("NUMBER");
    QString pattern = QRegularExpression::escape(
        LoadStr(330).arg(path).arg(CaptureRecorder::STOP_WAIT.count() / 1000).arg(number));
    pattern.replace(number, QStringLiteral("([0-9]+)"));
    const QRegularExpressionMatch match =
        QRegularExpression(QLatin1Char('^') + pattern + QLatin1Char('$')).match(text);
    ASSERT_TRUE(match.hasMatch()) << text.toStdString();
    EXPECT_GT(match.captured(1).toLongLong(), 0);
}

class CaptureStuck : public CaptureTest
{
};

TEST_F(CaptureStuck, StartAndStopComeBackAndSayWhatWasNotWritten)
{
    for (const Stuck kind :
         {Stuck::FifoWithoutReader, Stuck::FifoReaderStopped, Stuck::TerminalNobodyReads}) {
        SCOPED_TRACE(static_cast<int>(kind));
        boxes.shown.clear();
        StuckFile file(kind, Path(QStringLiteral("fifo%1.pcap").arg(static_cast<int>(kind))));
        Fd listener = Listener();
        Fd peer = ConnectClient(listener);
        StartCapture(file.path);
        ASSERT_FALSE(file.rescued);
        ASSERT_TRUE(Capturing());

        // The capture falls behind and holds reading; the window goes on.
        const std::string bytes = Pattern(12 << 20);
        const std::int64_t before = dlg->m_nRecvTotal;
        std::jthread sender([&] { ::send(peer.get(), bytes.data(), bytes.size(), MSG_NOSIGNAL); });
        EXPECT_TRUE(WaitUntil([&] { return dlg->m_taps.ReceiveHeld(); }, seconds(10)));
        EXPECT_FALSE(file.rescued);

        StopCapture();
        EXPECT_FALSE(file.rescued);
        EXPECT_FALSE(Capturing());
        ASSERT_EQ(1u, boxes.shown.size());
        ExpectNotWrittenMessage(boxes.LastText(), file.path);
        // Reading goes on without the capture.
        EXPECT_TRUE(
            WaitUntil([&] { return dlg->m_nRecvTotal == before + std::int64_t(bytes.size()); }, seconds(30)));
        sender.join();
        ExpectWindowWorks(peer);
        Click(IDC_BUTTON_CLOSE);

        // A writer left behind ends once its file lets go.
        file.Release();
        EXPECT_TRUE(WaitUntil([] { return ThreadsNamed("korvo-capture") == 0; }, seconds(10)));
    }
}

// Exit while the capture is stuck: the window asks, waits its bounded time,
// says what was not written, and closes.
TEST_F(CaptureStuck, ExitComesBackAndSaysWhatWasNotWritten)
{
    StuckFile file(Stuck::FifoReaderStopped, Path(QStringLiteral("exit.pcap")));
    Fd listener = Listener();
    Fd peer = ConnectClient(listener);
    StartCapture(file.path);
    const std::string bytes = Pattern(12 << 20);
    std::jthread sender([&] { ::send(peer.get(), bytes.data(), bytes.size(), MSG_NOSIGNAL); });
    EXPECT_TRUE(WaitUntil([&] { return dlg->m_taps.ReceiveHeld(); }, seconds(10)));

    boxes.answers = {IDYES};
    Click(IDC_BUTTON_EXIT);
    EXPECT_FALSE(file.rescued);
    ASSERT_EQ(2u, boxes.shown.size());
    EXPECT_EQ(LoadStr(127), boxes.shown[0].text);
    ExpectNotWrittenMessage(boxes.LastText(), file.path);
    dlg.reset();
    EXPECT_FALSE(file.rescued);
    // The peer's send ends with the session.
    sender.join();
    file.Release();
    EXPECT_TRUE(WaitUntil([] { return ThreadsNamed("korvo-capture") == 0; }, seconds(10)));
}

} // namespace
