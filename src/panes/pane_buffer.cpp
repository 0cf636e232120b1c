#include "panes/pane_buffer.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr std::size_t kBlockSize = 2 * static_cast<std::size_t>(PANE_CAPACITY);

} // namespace

// Zeroed from the start, so the bytes beyond the length are zero even before
// the pane is first initialised. Everything in the block after the last byte
// in use stays zero at all times.
PaneBuffer::PaneBuffer() : m_pData(nullptr), m_block(new std::uint8_t[kBlockSize]())
{
    m_pData = m_block.get();
}

PaneBuffer::~PaneBuffer() = default;

void PaneBuffer::Clear()
{
    std::memset(m_block.get(), 0, kBlockSize);
    m_pData = m_block.get();
    m_nLength = 0;
}

int PaneBuffer::Resize(int n)
{
    n = std::clamp(n, 0, static_cast<int>(PANE_CAPACITY));
    // Only the part that was in use can be non-zero.
    if (m_nLength > n)
        std::memset(m_pData + n, 0, static_cast<std::size_t>(m_nLength - n));
    m_nLength = n;
    return n;
}

void PaneBuffer::Append(int n, const std::uint8_t* src)
{
    n = std::clamp(n, 0, static_cast<int>(PANE_CAPACITY));
    if (n == 0 || !src)
        return;
    if (m_nLength + n > PANE_CAPACITY) {
        const int excess = m_nLength + n - PANE_CAPACITY;
        const std::size_t offset = static_cast<std::size_t>(m_pData - m_block.get());
        if (offset + static_cast<std::size_t>(excess) + PANE_CAPACITY <= kBlockSize) {
            // Drop the oldest bytes by moving the window past them.
            m_pData += excess;
            m_nLength -= excess;
        } else {
            // The window reached the end: bring the kept bytes back to the start.
            const int keep = m_nLength - excess;
            std::memmove(m_block.get(), m_pData + excess, static_cast<std::size_t>(keep));
            std::memset(m_block.get() + keep, 0, kBlockSize - static_cast<std::size_t>(keep));
            m_pData = m_block.get();
            m_nLength = keep;
        }
    }
    std::memcpy(m_pData + m_nLength, src, static_cast<std::size_t>(n));
    m_nLength += n;
}
