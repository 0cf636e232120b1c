#include "capture/capture_writer.h"

#include "capture/packet_builder.h"
#include "net/endpoint.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

using Clock = std::chrono::steady_clock;

// The writer takes the queue once this much has gathered, or once its first
// record has waited this long: few large writes, and every record in the
// file well within a second.
constexpr std::size_t kWakeBytes = 256 * 1024;
constexpr std::chrono::milliseconds kGather{100};
// An idle writer looks this often whether its file was deleted.
constexpr std::chrono::milliseconds kIdleCheck{1000};
// A FIFO without a reader is tried again this often.
constexpr std::chrono::milliseconds kReaderRetry{50};
// Past Finish's wait: time for a writer that gave up to close its file.
constexpr std::chrono::milliseconds kCloseGrace{250};

constexpr std::size_t RoundUp(std::size_t n)
{
    return (n + 7) & ~std::size_t{7};
}

enum Kind : std::uint8_t { RECORD_OPENED, RECORD_RECEIVED, RECORD_SENT, RECORD_ENDED };

void CopyAddress(sockaddr_in6& into, const sockaddr* from)
{
    into = {};
    if (const socklen_t length = AddressLength(from))
        std::memcpy(&into, from, length);
    else
        into.sin6_family = AF_UNSPEC;
}

const sockaddr* AddressOrNull(const sockaddr_in6& address)
{
    return address.sin6_family == AF_UNSPEC ? nullptr : reinterpret_cast<const sockaddr*>(&address);
}

} // namespace

// A record's head in the queue; the session or the block follows it (a
// block behind PACKET_HEADROOM bytes, where the encoder writes headers).
struct CaptureWriter::Record
{
    std::uint32_t size; // of the whole record
    Kind kind;
    SessionEnd end;
    std::int32_t length;
    std::chrono::system_clock::time_point time;
    sockaddr_in6 peer; // or a sockaddr_in; AF_UNSPEC for none
    sockaddr_in6 to;
};

struct CaptureWriter::State
{
    // Records start at multiples of eight.
    static constexpr std::size_t HEAD_SIZE = RoundUp(sizeof(Record));

    std::string path;
    CaptureFormat format;

    std::mutex mutex;
    std::condition_variable wake; // the writer's
    std::condition_variable done; // Finish's
    // Filled by the caller, taken whole by the writer (both under the lock),
    // with the payload of its blocks.
    ByteBuffer queue;
    std::uint64_t queuedPayload = 0;
    bool roomWanted = false;
    bool finished = false;
    Outcome outcome;

    // Read without the lock as well.
    std::atomic<bool> stop{false};
    std::atomic<Clock::rep> deadline{Clock::time_point::max().time_since_epoch().count()};
    std::atomic<bool> abandoned{false};
    std::atomic<bool> failed{false};
    std::atomic<std::size_t> queued{0};
    // Of the batch being written: the bytes and the payload not yet written.
    std::atomic<std::size_t> batchLeft{0};
    std::atomic<std::uint64_t> batchPayload{0};

    // Cleared when the owner lets go; called under their own lock.
    std::mutex callbackMutex;
    std::function<void()> onRoom;
    std::function<void()> onFailed;

    // Give up: the owner left, the capture failed, or Stop's time is over.
    bool Cancelled() const
    {
        return abandoned || failed ||
               (stop && Clock::now().time_since_epoch().count() >= deadline.load(std::memory_order_relaxed));
    }
    // Under the lock: the first failure; false if the capture had failed already.
    bool SetFailed(CaptureFailure::Kind kind, int error)
    {
        if (failed)
            return false;
        outcome = {false, kind, error, queuedPayload + batchPayload};
        failed = true;
        return true;
    }
    void Call(std::function<void()> State::*callback)
    {
        std::lock_guard lock(callbackMutex);
        if (this->*callback)
            (this->*callback)();
    }
    // Under the lock: room again for what Full() held.
    void OfferRoom(std::unique_lock<std::mutex>& lock)
    {
        if (!roomWanted || queue.Size() + batchLeft >= RECEIVE_BOUND)
            return;
        roomWanted = false;
        lock.unlock();
        Call(&State::onRoom);
        lock.lock();
    }
};

CaptureWriter::CaptureWriter(std::string path, CaptureFormat format, std::function<void()> onRoom,
                             std::function<void()> onFailed)
    : m_pState(std::make_shared<State>())
{
    m_pState->path = std::move(path);
    m_pState->format = format;
    m_pState->onRoom = std::move(onRoom);
    m_pState->onFailed = std::move(onFailed);
    // A received block may go over the bound once.
    m_pState->queue.Reserve(RECEIVE_BOUND + 64 * 1024);
    m_thread = std::thread([state = m_pState] { Run(state); });
    pthread_setname_np(m_thread.native_handle(), "korvo-capture");
}

CaptureWriter::~CaptureWriter()
{
    Finish(std::chrono::seconds(2));
}

void CaptureWriter::Opened(const SessionInfo& session, const TapTime& time)
{
    Record head{0, RECORD_OPENED, {}, 0, time.wall, {}, {}};
    Push(head, &session, 0, sizeof session, 0);
}

void CaptureWriter::Block(bool received, const std::uint8_t* data, int length, const sockaddr* peer,
                          const sockaddr* to, const TapTime& time)
{
    if (length <= 0)
        return;
    Record head{0, received ? RECORD_RECEIVED : RECORD_SENT, {}, length, time.wall, {}, {}};
    CopyAddress(head.peer, peer);
    CopyAddress(head.to, to);
    Push(head, data, PACKET_HEADROOM, static_cast<std::size_t>(length), static_cast<std::size_t>(length));
}

void CaptureWriter::Ended(const SessionEnd& end, const TapTime& time)
{
    Record head{0, RECORD_ENDED, end, 0, time.wall, {}, {}};
    Push(head, nullptr, 0, 0, 0);
}

void CaptureWriter::Push(Record& head, const void* body, std::size_t offset, std::size_t length,
                         std::size_t payload)
{
    State& s = *m_pState;
    if (s.failed)
        return;
    const std::size_t size = RoundUp(State::HEAD_SIZE + offset + length);
    head.size = static_cast<std::uint32_t>(size);
    bool wake = false;
    bool failed = false;
    {
        std::lock_guard lock(s.mutex);
        const std::size_t before = s.queue.Size();
        if (before + s.batchLeft + size > HARD_BOUND) {
            failed = s.SetFailed(CaptureFailure::FELL_BEHIND, 0);
        } else {
            std::uint8_t* p = s.queue.Grow(size);
            std::memcpy(p, &head, sizeof head);
            if (length)
                std::memcpy(p + State::HEAD_SIZE + offset, body, length);
            s.queue.Commit(size);
            s.queuedPayload += payload;
            s.queued.store(s.queue.Size(), std::memory_order_relaxed);
            wake = before == 0 || (before < kWakeBytes && s.queue.Size() >= kWakeBytes);
        }
    }
    if (wake || failed)
        s.wake.notify_one();
    if (failed)
        s.Call(&State::onFailed);
}

bool CaptureWriter::Full()
{
    State& s = *m_pState;
    if (s.failed || s.queued.load(std::memory_order_relaxed) + s.batchLeft.load(std::memory_order_relaxed) <
                        RECEIVE_BOUND)
        return false;
    std::lock_guard lock(s.mutex);
    if (s.queue.Size() + s.batchLeft < RECEIVE_BOUND)
        return false;
    s.roomWanted = true;
    return true;
}

bool CaptureWriter::Failed() const
{
    return m_pState->failed;
}

CaptureWriter::Outcome CaptureWriter::Finish(std::chrono::milliseconds wait)
{
    if (m_bFinished)
        return m_outcome;
    m_bFinished = true;
    State& s = *m_pState;
    std::unique_lock lock(s.mutex);
    s.deadline = (Clock::now() + wait).time_since_epoch().count();
    s.stop = true;
    s.wake.notify_one();
    if (s.done.wait_for(lock, wait + kCloseGrace, [&] { return s.finished; })) {
        m_outcome = s.outcome;
        lock.unlock();
        m_thread.join();
        return m_outcome;
    }
    // Stuck in the system: left to end by itself, and heard of no more.
    s.abandoned = true;
    s.SetFailed(CaptureFailure::NOT_FINISHED, 0);
    m_outcome = s.outcome;
    lock.unlock();
    {
        std::lock_guard callbacks(s.callbackMutex);
        s.onRoom = {};
        s.onFailed = {};
    }
    m_thread.detach();
    return m_outcome;
}

namespace {

// Opens the file for writing without blocking in open(): a FIFO without a
// reader is tried again until it has one or `giveUp` says so. -1 with errno
// on failure (0: given up).
template <class GiveUp> int OpenCaptureFile(const std::string& path, GiveUp giveUp)
{
    for (;;) {
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NONBLOCK, 0666);
        if (fd >= 0) {
            struct stat status;
            // Only a FIFO is written without blocking; files and devices as usual.
            if (::fstat(fd, &status) == 0 && !S_ISFIFO(status.st_mode))
                ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
            return fd;
        }
        const int error = errno;
        if (error == EINTR)
            continue;
        struct stat status;
        if (error != ENXIO || ::stat(path.c_str(), &status) != 0 || !S_ISFIFO(status.st_mode)) {
            errno = error;
            return -1;
        }
        if (giveUp()) {
            errno = 0;
            return -1;
        }
    }
}

} // namespace

void CaptureWriter::Run(const std::shared_ptr<State>& state)
{
    State& s = *state;
    std::unique_lock lock(s.mutex, std::defer_lock);
    const int fd = OpenCaptureFile(s.path, [&] {
        std::unique_lock wait(s.mutex);
        // Stopped with nothing recorded: nothing is lost by not waiting.
        return s.wake.wait_for(wait, kReaderRetry,
                               [&] { return s.Cancelled() || (s.stop && s.queue.Size() == 0); });
    });
    int error = fd < 0 ? errno : 0;
    std::unique_ptr<CaptureEncoder> encoder;
    std::unique_ptr<CaptureFile> file;
    ByteBuffer batch;
    bool failed = false;
    if (fd < 0) {
        lock.lock();
        if (error)
            failed = s.SetFailed(CaptureFailure::CANNOT_OPEN, error);
        else if (s.queuedPayload > 0)
            failed = s.SetFailed(CaptureFailure::NOT_FINISHED, 0);
    } else {
        file = std::make_unique<CaptureFile>(fd, [&s] { return s.Cancelled(); });
        encoder = MakeCaptureEncoder(s.format);
        batch.Reserve(RECEIVE_BOUND + 64 * 1024);
        error = encoder->Begin(*file);
        lock.lock();
        while (!error && !s.failed) {
            s.wake.wait_for(lock, kIdleCheck, [&] { return s.stop || s.queue.Size() > 0; });
            if (!s.stop && s.queue.Size() > 0)
                s.wake.wait_for(lock, kGather, [&] { return s.stop || s.queue.Size() >= kWakeBytes; });
            if (file->Deleted()) {
                failed = s.SetFailed(CaptureFailure::DELETED, 0);
                break;
            }
            if (s.queue.Size() == 0) {
                if (s.stop)
                    break;
                continue;
            }
            std::swap(s.queue, batch);
            s.batchLeft = batch.Size();
            s.batchPayload = s.queuedPayload;
            s.queuedPayload = 0;
            s.queued.store(0, std::memory_order_relaxed);
            lock.unlock();
            error = Write(s, batch, *encoder, *file, lock);
            lock.lock();
            batch.Clear();
            s.batchLeft = 0;
            if (!error)
                s.batchPayload = 0;
            s.OfferRoom(lock);
        }
        lock.unlock();
        if (error == ECANCELED || (s.Cancelled() && !s.failed))
            file->Cancel();
        // libpcap lets go of its stream before the file closes.
        encoder.reset();
        const int closed = file->Close();
        if (!error && closed != ECANCELED)
            error = closed;
        lock.lock();
        if (error == ECANCELED)
            failed = s.SetFailed(CaptureFailure::NOT_FINISHED, 0);
        else if (error)
            failed = s.SetFailed(CaptureFailure::WRITE_FAILED, error);
    }
    // Finish hears the outcome itself; before it, the owner is told.
    const bool tell = failed && !s.stop;
    s.finished = true;
    s.done.notify_all();
    lock.unlock();
    if (tell)
        s.Call(&State::onFailed);
}

int CaptureWriter::Write(State& s, ByteBuffer& batch, CaptureEncoder& encoder, CaptureFile& file,
                         std::unique_lock<std::mutex>& lock)
{
    file.SetStable(batch.Data(), batch.Size());
    std::uint64_t payload = 0;
    const auto flushed = [&](std::size_t next) {
        if (const int error = file.Flush())
            return error;
        lock.lock();
        s.batchLeft = batch.Size() - next;
        s.batchPayload -= payload;
        payload = 0;
        s.OfferRoom(lock);
        lock.unlock();
        // Stop's time is over, or the owner left while the write was under way.
        return s.Cancelled() ? ECANCELED : 0;
    };
    for (std::size_t at = 0; at < batch.Size();) {
        Record head;
        std::memcpy(&head, batch.Data() + at, sizeof head);
        std::uint8_t* body = batch.Data() + at + State::HEAD_SIZE;
        switch (head.kind) {
        case RECORD_OPENED: {
            SessionInfo session;
            std::memcpy(&session, body, sizeof session);
            encoder.Opened(session, head.time, file);
            break;
        }
        case RECORD_RECEIVED:
        case RECORD_SENT:
            encoder.Block(head.kind == RECORD_RECEIVED, body + PACKET_HEADROOM, head.length,
                          AddressOrNull(head.peer), AddressOrNull(head.to), head.time, file);
            payload += static_cast<std::uint64_t>(head.length);
            break;
        case RECORD_ENDED:
            encoder.Ended(head.end, head.time, file);
            break;
        }
        at += head.size;
        if (file.Full()) {
            if (const int error = flushed(at))
                return error;
        }
    }
    const int error = flushed(batch.Size());
    file.SetStable(nullptr, 0);
    return error;
}
