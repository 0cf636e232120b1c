#pragma once

// A growable run of bytes that is reused from one fill to the next and never
// cleared to zero: the capture's queue and its gathered output go through
// such buffers at the speed of a flood.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

class ByteBuffer
{
public:
    // Room for `size` more bytes at the end; Commit what was written there.
    std::uint8_t* Grow(std::size_t size)
    {
        if (m_nSize + size > m_nCapacity) {
            const std::size_t capacity = std::max({m_nSize + size, 2 * m_nCapacity, std::size_t{64 * 1024}});
            auto grown = std::make_unique_for_overwrite<std::uint8_t[]>(capacity);
            if (m_nSize)
                std::memcpy(grown.get(), m_pData.get(), m_nSize);
            m_pData = std::move(grown);
            m_nCapacity = capacity;
        }
        return m_pData.get() + m_nSize;
    }
    void Commit(std::size_t size) { m_nSize += size; }
    // Room for `capacity` bytes at once: a buffer grown step by step leaves
    // its earlier, smaller blocks behind in the heap, resident.
    void Reserve(std::size_t capacity)
    {
        if (capacity > m_nCapacity)
            Grow(capacity - m_nSize);
    }
    void Clear() { m_nSize = 0; }

    std::uint8_t* Data() { return m_pData.get(); }
    const std::uint8_t* Data() const { return m_pData.get(); }
    std::size_t Size() const { return m_nSize; }

private:
    std::unique_ptr<std::uint8_t[]> m_pData;
    std::size_t m_nSize = 0;
    std::size_t m_nCapacity = 0;
};
