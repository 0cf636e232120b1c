#include "panes/pane_buffer.h"

#include <algorithm>
#include <cstring>

// Zeroed from the start, so the bytes beyond the length are zero even before
// the pane is first initialised.
PaneBuffer::PaneBuffer() : m_pData(new std::uint8_t[PANE_CAPACITY]()) {}

PaneBuffer::~PaneBuffer()
{
    delete[] m_pData;
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
        const int keep = PANE_CAPACITY - n;
        std::memmove(m_pData, m_pData + excess, static_cast<std::size_t>(keep));
        // The tail is overwritten by the copy below; nothing beyond stays stale.
        m_nLength = keep;
    }
    std::memcpy(m_pData + m_nLength, src, static_cast<std::size_t>(n));
    m_nLength += n;
}
