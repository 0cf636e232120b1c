#pragma once

// PaneBuffer: the bytes of a pane. 1,048,576 bytes at m_pData, of which the
// first m_nLength are in use; every byte beyond the length is zero.
// Appending beyond the capacity drops the oldest bytes.
//
// The pane's bytes are a window on a block twice the capacity: dropping the
// oldest bytes moves the window forward instead of moving a megabyte, and the
// bytes are moved back to the block's start only when the window reaches its
// end, once per capacity received. A peer that floods a full pane then costs
// a copy of what it sends, not a megabyte per read.
#include <cstdint>
#include <memory>

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
    // Appends n bytes (cut to the capacity), dropping the oldest bytes when
    // they would not fit. m_pData may change.
    void Append(int n, const std::uint8_t* src);
    // Empties the pane: every byte zero, the window at the block's start.
    void Clear();

    std::uint8_t* m_pData;
    int m_nLength = 0;

private:
    std::unique_ptr<std::uint8_t[]> m_block;
};
