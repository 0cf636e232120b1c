#pragma once

// Where "contains" patterns may begin, so that the matcher's automaton skips
// the places where none does. The filter is conservative: it may stop at a
// place where no pattern begins, never pass one where one does.
//
// It looks pairs of bytes up in a table, and only at every STRIDE-th place,
// STRIDE being the shortest pattern's length (at most STRIDE_MAX): a pattern
// beginning at p has a pair of its own at each of p .. p + STRIDE - 2 and,
// at p + STRIDE - 1, its last byte (or the one there) with whatever follows,
// so the one sample among those places finds it. Where patterns are short
// and few, it checks sixteen places at a time instead, on nibble buckets of
// the patterns' first two bytes (SSSE3).
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

class StartFilter
{
public:
    static constexpr std::size_t STRIDE_MAX = 4;

    // `patterns`: none empty.
    void Build(const std::vector<const std::vector<std::uint8_t>*>& patterns);
    // The first place from `i` on where a pattern may begin; `length` for
    // none. Where the data ends too soon to look at a place as the others,
    // its first byte decides.
    std::size_t Next(const std::uint8_t* data, std::size_t i, std::size_t length) const;
    std::size_t MemoryUse() const { return m_pairs.capacity(); }

    // Eight buckets of patterns, looked up by the nibbles of the first two bytes.
    struct Buckets
    {
        std::array<std::uint8_t, 16> low0{}, high0{}, low1{}, high1{};
    };

private:
    bool m_bAny = false;
    std::array<std::uint8_t, 256> m_firsts{};
    Buckets m_buckets;
    bool m_bVector = false;
    // 1 for each pair of bytes a sample may find, by PairAt; empty while the
    // buckets serve.
    std::vector<std::uint8_t> m_pairs;
    std::size_t m_nStride = 1;
};

// Two bytes as one index, loaded at once; the tables are built the same way,
// whatever the byte order.
inline std::uint16_t PairAt(const std::uint8_t* at)
{
    std::uint16_t pair;
    std::memcpy(&pair, at, sizeof pair);
    return pair;
}
