#pragma once

// CaptureWriter: the capture's file, written on a thread of its own so that
// a slow disk never stalls the window. The GUI thread queues each record
// (a copy of the block, its time and peer) and goes on; the writer thread
// takes the whole queue at a time, encodes it and writes it.
//
// Memory is bounded: once the queue holds RECEIVE_BOUND bytes, Full() says
// so and the window stops reading (TCP then slows the peer) until `onRoom`.
// Sends cannot wait: they are queued regardless, at most 512 bytes per
// millisecond tick; only a disk that takes nothing at all for many seconds
// lets them reach HARD_BOUND, which fails the capture rather than grow.
#include "capture/byte_buffer.h"
#include "capture/capture_encoder.h"
#include "net/session_tap.h"

#include <netinet/in.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

class CaptureWriter
{
public:
    static constexpr std::size_t RECEIVE_BOUND = 4u << 20;
    static constexpr std::size_t HARD_BOUND = 32u << 20;

    // Takes the open descriptor. The callbacks come on the writer thread.
    // `onRoom`: the queue took up what Full() stopped. `onFailed`: the file
    // failed; it stays valid, nothing more goes into it.
    CaptureWriter(int fd, CaptureFormat format, std::function<void()> onRoom, std::function<void()> onFailed);
    ~CaptureWriter();
    CaptureWriter(const CaptureWriter&) = delete;
    CaptureWriter& operator=(const CaptureWriter&) = delete;

    void Opened(const SessionInfo& session, const TapTime& time);
    void Block(bool received, const std::uint8_t* data, int length, const sockaddr* peer,
               const TapTime& time);
    void Ended(const SessionEnd& end, const TapTime& time);

    // The queue is at its bound: received data must wait. `onRoom` follows.
    bool Full();
    bool Failed() const { return m_bFailed; }
    // Writes what is queued and closes the file; 0 or the errno value of the
    // first failure.
    int Finish();

private:
    enum Kind : std::uint8_t { RECORD_OPENED, RECORD_RECEIVED, RECORD_SENT, RECORD_ENDED };
    // A record's head in the queue; the session or the block follows it (a
    // block behind PACKET_HEADROOM bytes, where the encoder writes headers).
    struct Record
    {
        std::uint32_t size; // of the whole record
        Kind kind;
        SessionEnd end;
        std::int32_t length;
        std::chrono::system_clock::time_point time;
        sockaddr_in6 peer; // or a sockaddr_in
    };
    // Records start at multiples of eight.
    static constexpr std::size_t HEAD_SIZE = (sizeof(Record) + 7) & ~std::size_t{7};

    // Queues the head and `length` bytes of `body`, `offset` bytes after it.
    void Push(Record head, const void* body, std::size_t offset, std::size_t length);
    void Run();
    // Encodes and writes one batch; 0 or an errno value.
    int Write(ByteBuffer& batch);
    // Under the lock: the first failure; false if the capture had failed already.
    bool SetFailed(int error);

    std::unique_ptr<CaptureEncoder> m_pEncoder;
    CaptureFile m_file;
    std::function<void()> m_onRoom;
    std::function<void()> m_onFailed;

    std::mutex m_mutex;
    std::condition_variable m_wake;
    // Filled by the GUI thread, taken whole by the writer (both under the lock).
    ByteBuffer m_queue;
    ByteBuffer m_batch;
    bool m_bRoomWanted = false;
    bool m_bStop = false;
    std::atomic<std::size_t> m_nQueued{0};
    std::atomic<bool> m_bFailed{false};
    int m_nError = 0;
    std::thread m_thread;
};
