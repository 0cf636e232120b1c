#include "capture/capture_writer.h"

#include "capture/packet_builder.h"

#include <netinet/in.h>
#include <pthread.h>

#include <cerrno>
#include <cstring>

namespace {

// The writer takes the queue once this much has gathered, or once its first
// record has waited this long: few large writes, and every record in the
// file well within a second.
constexpr std::size_t kWakeBytes = 256 * 1024;
constexpr std::chrono::milliseconds kGather{100};

constexpr std::size_t RoundUp(std::size_t n)
{
    return (n + 7) & ~std::size_t{7};
}

} // namespace

CaptureWriter::CaptureWriter(int fd, CaptureFormat format, std::function<void()> onRoom,
                             std::function<void()> onFailed)
    : m_pEncoder(MakeCaptureEncoder(format)), m_file(fd), m_onRoom(std::move(onRoom)),
      m_onFailed(std::move(onFailed))
{
    // A received block may go over the bound once.
    m_queue.Reserve(RECEIVE_BOUND + 64 * 1024);
    m_batch.Reserve(RECEIVE_BOUND + 64 * 1024);
    m_thread = std::thread([this] { Run(); });
    pthread_setname_np(m_thread.native_handle(), "korvo-capture");
}

CaptureWriter::~CaptureWriter()
{
    Finish();
}

void CaptureWriter::Opened(const SessionInfo& session, const TapTime& time)
{
    Push(Record{0, RECORD_OPENED, {}, 0, time.wall, {}}, &session, 0, sizeof session);
}

void CaptureWriter::Block(bool received, const std::uint8_t* data, int length, const sockaddr* peer,
                          const TapTime& time)
{
    if (length <= 0)
        return;
    Record head{0, received ? RECORD_RECEIVED : RECORD_SENT, {}, length, time.wall, {}};
    if (peer && peer->sa_family == AF_INET)
        std::memcpy(&head.peer, peer, sizeof(sockaddr_in));
    else if (peer && peer->sa_family == AF_INET6)
        std::memcpy(&head.peer, peer, sizeof(sockaddr_in6));
    else
        head.peer.sin6_family = AF_UNSPEC;
    Push(head, data, PACKET_HEADROOM, static_cast<std::size_t>(length));
}

void CaptureWriter::Ended(const SessionEnd& end, const TapTime& time)
{
    Push(Record{0, RECORD_ENDED, end, 0, time.wall, {}}, nullptr, 0, 0);
}

void CaptureWriter::Push(Record head, const void* body, std::size_t offset, std::size_t length)
{
    if (m_bFailed)
        return;
    const std::size_t size = RoundUp(HEAD_SIZE + offset + length);
    head.size = static_cast<std::uint32_t>(size);
    bool wake = false;
    bool failed = false;
    {
        std::lock_guard lock(m_mutex);
        const std::size_t before = m_queue.Size();
        if (before + size > HARD_BOUND) {
            failed = SetFailed(ENOBUFS);
        } else {
            std::uint8_t* p = m_queue.Grow(size);
            std::memcpy(p, &head, sizeof head);
            if (length)
                std::memcpy(p + HEAD_SIZE + offset, body, length);
            m_queue.Commit(size);
            m_nQueued.store(m_queue.Size(), std::memory_order_relaxed);
            wake = before == 0 || (before < kWakeBytes && m_queue.Size() >= kWakeBytes);
        }
    }
    if (wake)
        m_wake.notify_one();
    if (failed)
        m_onFailed();
}

bool CaptureWriter::Full()
{
    if (m_bFailed || m_nQueued.load(std::memory_order_relaxed) < RECEIVE_BOUND)
        return false;
    std::lock_guard lock(m_mutex);
    if (m_queue.Size() < RECEIVE_BOUND)
        return false;
    m_bRoomWanted = true;
    return true;
}

int CaptureWriter::Finish()
{
    {
        std::lock_guard lock(m_mutex);
        m_bStop = true;
    }
    m_wake.notify_one();
    if (m_thread.joinable())
        m_thread.join();
    return m_nError;
}

bool CaptureWriter::SetFailed(int error)
{
    if (m_bFailed)
        return false;
    m_nError = error;
    m_bFailed = true;
    return true;
}

void CaptureWriter::Run()
{
    int error = m_pEncoder->Begin(m_file);
    std::unique_lock lock(m_mutex);
    while (!error && !m_bFailed) {
        m_wake.wait(lock, [&] { return m_bStop || m_queue.Size() > 0; });
        if (!m_bStop)
            m_wake.wait_for(lock, kGather, [&] { return m_bStop || m_queue.Size() >= kWakeBytes; });
        if (m_queue.Size() == 0 || m_bFailed)
            break;
        std::swap(m_queue, m_batch);
        m_nQueued.store(0, std::memory_order_relaxed);
        const bool room = std::exchange(m_bRoomWanted, false);
        lock.unlock();
        if (room)
            m_onRoom();
        error = Write(m_batch);
        m_batch.Clear();
        lock.lock();
    }
    lock.unlock();
    // libpcap lets go of its stream before the file closes.
    m_pEncoder.reset();
    const int closed = m_file.Close();
    if (!error)
        error = closed;
    if (!error)
        return;
    lock.lock();
    const bool failed = SetFailed(error);
    lock.unlock();
    if (failed)
        m_onFailed();
}

int CaptureWriter::Write(ByteBuffer& batch)
{
    m_file.SetStable(batch.Data(), batch.Size());
    for (std::size_t at = 0; at < batch.Size();) {
        Record head;
        std::memcpy(&head, batch.Data() + at, sizeof head);
        std::uint8_t* body = batch.Data() + at + HEAD_SIZE;
        switch (head.kind) {
        case RECORD_OPENED: {
            SessionInfo session;
            std::memcpy(&session, body, sizeof session);
            m_pEncoder->Opened(session, head.time, m_file);
            break;
        }
        case RECORD_RECEIVED:
        case RECORD_SENT:
            m_pEncoder->Block(head.kind == RECORD_RECEIVED, body + PACKET_HEADROOM, head.length,
                              reinterpret_cast<const sockaddr*>(&head.peer), head.time, m_file);
            break;
        case RECORD_ENDED:
            m_pEncoder->Ended(head.end, head.time, m_file);
            break;
        }
        at += head.size;
        if (m_file.Full()) {
            if (const int error = m_file.Flush())
                return error;
        }
    }
    const int error = m_file.Flush();
    m_file.SetStable(nullptr, 0);
    return error;
}
