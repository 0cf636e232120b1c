#pragma once

// The capture file as the writer thread fills it. Pieces are gathered and
// written together; bytes in the memory marked stable are written from where
// they lie, anything else is copied first. Records are marked as they end,
// so that after a failed write the file can be cut back to its last whole
// record: what stays on disk is always a valid file.
//
// A descriptor that is non-blocking (a FIFO) is waited for while it is full;
// the wait ends with ECANCELED as soon as `cancelled` says so.
#include "capture/byte_buffer.h"

#include <sys/uio.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

class CaptureFile
{
public:
    // Takes the open descriptor.
    explicit CaptureFile(int fd, std::function<bool()> cancelled = {});
    ~CaptureFile();
    CaptureFile(const CaptureFile&) = delete;
    CaptureFile& operator=(const CaptureFile&) = delete;

    // Memory that stays unchanged until the next Flush.
    void SetStable(const void* begin, std::size_t size);
    void Write(const void* data, std::size_t size);
    // Room for `size` bytes written in place, then Commit of what was used.
    char* Reserve(std::size_t size);
    void Commit(std::size_t used);
    // A whole record ends here.
    void EndRecord();
    // Worth a Flush now: enough gathered to make one large write.
    bool Full() const;

    // Writes what was gathered. On failure the file is cut back to the last
    // whole record that reached it and every later call does nothing.
    // Returns 0 or the errno value of the first failure.
    int Flush();
    // Gives up: what was gathered is dropped and the file is cut back to the
    // last whole record that reached it.
    void Cancel();
    // Flushes and closes; the first failure, if any.
    int Close();
    // A regular file that no name leads to any more.
    bool Deleted() const;

private:
    struct Piece
    {
        const std::uint8_t* data; // null: at `offset` in m_copies
        std::size_t offset;
        std::size_t size;
    };
    void Fail(int error);

    int m_fd;
    std::function<bool()> m_cancelled;
    int m_nError = 0;
    const std::uint8_t* m_pStable = nullptr;
    std::size_t m_nStable = 0;
    std::vector<Piece> m_pieces;
    ByteBuffer m_copies;
    std::vector<iovec> m_vectors;
    std::size_t m_nGathered = 0;
    // File offsets: what reached the file, and where records end past it.
    std::int64_t m_nWritten = 0;
    std::vector<std::int64_t> m_recordEnds;
    std::int64_t m_nWholeWritten = 0;
};
