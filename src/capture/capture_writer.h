#pragma once

// CaptureWriter: the capture's file, opened and written on a thread of its
// own so that a slow, stuck or absent disk never stalls the caller. The
// caller queues each record (a copy of the block, its time and addresses)
// and goes on; the writer thread takes the whole queue at a time, encodes it
// and writes it.
//
// Memory is bounded: once the queue and the part of the batch not yet
// written hold RECEIVE_BOUND bytes, Full() says so, and the session stops
// reading and holds its outgoing queue until `onRoom`. The send pane's
// chunks cannot wait: they are queued regardless, at most 512 bytes per
// millisecond tick; only a file that takes nothing for about a minute lets
// them reach HARD_BOUND, which ends the capture rather than grow.
//
// Finish waits a bounded time. A writer that is still stuck in the system
// then (a hung network mount) is left to end by itself: once its write
// returns it cuts the file back to its last whole record and closes it, and
// it never calls back.
#include "capture/byte_buffer.h"
#include "capture/capture_encoder.h"
#include "capture/capture_failure.h"
#include "net/session_tap.h"

#include <netinet/in.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

class CaptureWriter
{
public:
    static constexpr std::size_t RECEIVE_BOUND = 4u << 20;
    static constexpr std::size_t HARD_BOUND = 32u << 20;

    // What became of the file. `ok` false: `kind`, `error` and `unwritten`
    // as in CaptureFailure.
    struct Outcome
    {
        bool ok = true;
        CaptureFailure::Kind kind = CaptureFailure::WRITE_FAILED;
        int error = 0;
        std::uint64_t unwritten = 0;
    };

    // Opens `path` (created or emptied) on the writer thread; a FIFO is
    // waited for until it has a reader. The callbacks come on the writer
    // thread, never after Finish has returned. `onRoom`: the writer took up
    // what Full() held. `onFailed`: the capture failed; nothing more goes
    // into the file, which keeps its whole records.
    CaptureWriter(std::string path, CaptureFormat format, std::function<void()> onRoom,
                  std::function<void()> onFailed);
    ~CaptureWriter();
    CaptureWriter(const CaptureWriter&) = delete;
    CaptureWriter& operator=(const CaptureWriter&) = delete;

    void Opened(const SessionInfo& session, const TapTime& time);
    // `to`: a received datagram's destination, or null.
    void Block(bool received, const std::uint8_t* data, int length, const sockaddr* peer, const sockaddr* to,
               const TapTime& time);
    void Ended(const SessionEnd& end, const TapTime& time);

    // What waits is at its bound: received data and the outgoing queue must
    // wait. `onRoom` follows.
    bool Full();
    bool Failed() const;
    // Writes what is queued and closes the file, waiting at most `wait`.
    Outcome Finish(std::chrono::milliseconds wait);

private:
    struct State;
    struct Record;
    // Queues the head and `length` bytes of `body`, `offset` bytes after it;
    // `payload`: the session's bytes among them.
    void Push(Record& head, const void* body, std::size_t offset, std::size_t length, std::size_t payload);
    static void Run(const std::shared_ptr<State>& state);
    // Encodes and writes one batch, the lock not held; 0 or an errno value.
    static int Write(State& s, ByteBuffer& batch, CaptureEncoder& encoder, CaptureFile& file,
                     std::unique_lock<std::mutex>& lock);

    std::shared_ptr<State> m_pState;
    std::thread m_thread;
    bool m_bFinished = false;
    Outcome m_outcome;
};
