#include "capture/capture_file.h"

#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

namespace {

// One large write rather than many small ones.
constexpr std::size_t kFlushBytes = 1 << 20;
constexpr std::size_t kFlushPieces = 4096;
// How often a full FIFO is asked whether to give up.
constexpr int kPollMs = 50;

} // namespace

CaptureFile::CaptureFile(int fd, std::function<bool()> cancelled)
    : m_fd(fd), m_cancelled(std::move(cancelled))
{
    // A flush's worth and the largest block's lines beyond it.
    m_copies.Reserve(kFlushBytes + 256 * 1024);
}

CaptureFile::~CaptureFile()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

void CaptureFile::SetStable(const void* begin, std::size_t size)
{
    m_pStable = static_cast<const std::uint8_t*>(begin);
    m_nStable = size;
}

void CaptureFile::Write(const void* data, std::size_t size)
{
    if (m_nError || size == 0)
        return;
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    if (bytes >= m_pStable && bytes + size <= m_pStable + m_nStable) {
        Piece* last = m_pieces.empty() ? nullptr : &m_pieces.back();
        if (last && last->data && last->data + last->size == bytes)
            last->size += size;
        else
            m_pieces.push_back({bytes, 0, size});
        m_nGathered += size;
        return;
    }
    std::memcpy(m_copies.Grow(size), data, size);
    Commit(size);
}

char* CaptureFile::Reserve(std::size_t size)
{
    return reinterpret_cast<char*>(m_copies.Grow(size));
}

void CaptureFile::Commit(std::size_t used)
{
    if (m_nError || used == 0)
        return;
    Piece* last = m_pieces.empty() ? nullptr : &m_pieces.back();
    if (last && !last->data && last->offset + last->size == m_copies.Size())
        last->size += used;
    else
        m_pieces.push_back({nullptr, m_copies.Size(), used});
    m_copies.Commit(used);
    m_nGathered += used;
}

void CaptureFile::EndRecord()
{
    if (!m_nError)
        m_recordEnds.push_back(m_nWritten + static_cast<std::int64_t>(m_nGathered));
}

bool CaptureFile::Full() const
{
    return m_nGathered >= kFlushBytes || m_pieces.size() >= kFlushPieces;
}

int CaptureFile::Flush()
{
    if (m_nError)
        return m_nError;
    // The copies may have moved as they grew: their places are known only now.
    std::vector<iovec>& vectors = m_vectors;
    vectors.clear();
    for (const Piece& piece : m_pieces) {
        const std::uint8_t* base = piece.data ? piece.data : m_copies.Data() + piece.offset;
        vectors.push_back({const_cast<std::uint8_t*>(base), piece.size});
    }
    std::size_t next = 0;
    while (next < vectors.size()) {
        const int count = static_cast<int>(std::min<std::size_t>(vectors.size() - next, IOV_MAX));
        const ssize_t n = ::writev(m_fd, vectors.data() + next, count);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                if (m_cancelled && m_cancelled()) {
                    Fail(ECANCELED);
                    return m_nError;
                }
                pollfd ready{m_fd, POLLOUT, 0};
                ::poll(&ready, 1, kPollMs);
                continue;
            }
            Fail(errno);
            return m_nError;
        }
        m_nWritten += n;
        // Past what was written, partly into a piece perhaps.
        auto left = static_cast<std::size_t>(n);
        while (next < vectors.size() && left >= vectors[next].iov_len)
            left -= vectors[next++].iov_len;
        if (left > 0) {
            vectors[next].iov_base = static_cast<char*>(vectors[next].iov_base) + left;
            vectors[next].iov_len -= left;
        }
    }
    if (!m_recordEnds.empty())
        m_nWholeWritten = m_recordEnds.back();
    m_recordEnds.clear();
    m_pieces.clear();
    m_copies.Clear();
    m_nGathered = 0;
    return 0;
}

void CaptureFile::Fail(int error)
{
    m_nError = error;
    // Records end in order: the last that ended within what reached the file.
    for (const std::int64_t end : m_recordEnds) {
        if (end > m_nWritten)
            break;
        m_nWholeWritten = end;
    }
    if (m_nWholeWritten < m_nWritten) {
        while (::ftruncate(m_fd, m_nWholeWritten) != 0 && errno == EINTR) {
        }
    }
    m_recordEnds.clear();
    m_pieces.clear();
    m_copies.Clear();
    m_nGathered = 0;
}

void CaptureFile::Cancel()
{
    if (!m_nError)
        Fail(ECANCELED);
}

bool CaptureFile::Deleted() const
{
    struct stat status;
    return m_fd >= 0 && ::fstat(m_fd, &status) == 0 && S_ISREG(status.st_mode) && status.st_nlink == 0;
}

int CaptureFile::Close()
{
    Flush();
    if (m_fd >= 0) {
        const int closed = ::close(m_fd);
        m_fd = -1;
        if (closed != 0 && !m_nError && errno != EINTR)
            m_nError = errno;
    }
    return m_nError;
}
