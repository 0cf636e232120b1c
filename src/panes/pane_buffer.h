#pragma once

// PaneBuffer: the bytes of a pane. A fixed block of 1,048,576 bytes, of which
// the first m_nLength are in use; every byte beyond the length is zero.
// Appending beyond the capacity drops the oldest bytes.
#include <cstdint>

enum { PANE_CAPACITY = 1048576 };

class PaneBuffer
{
public:
    PaneBuffer();
    ~PaneBuffer();
    PaneBuffer(const PaneBuffer&) = delete;
    PaneBuffer& operator=(const PaneBuffer&) = delete;

    // Sets the number of bytes in use (cut to the capacity, negatives to 0);
    // bytes beyond it are zeroed. Returns the length applied.
    int Resize(int n);
    // Appends n bytes (cut to the capacity), moving the newest kept bytes to
    // the front when they would not fit.
    void Append(int n, const std::uint8_t* src);

    std::uint8_t* m_pData;
    int m_nLength = 0;
};
