#pragma once

// A fuzz target is written once as `int Name(const uint8_t*, size_t)`.
// In a libFuzzer build (clang, KORVO_LIBFUZZER) it becomes the binary's
// LLVMFuzzerTestOneInput; in the ordinary suite it runs as a test over a
// bounded number of pseudo-random inputs, so every `make test` exercises it.
#include <cstddef>
#include <cstdint>

// A fuzz input read byte by byte, as the choices a target makes; past its
// end it reads zeros.
class FuzzReader
{
public:
    FuzzReader(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}
    bool More() const { return m_pos < m_size; }
    unsigned Next() { return m_pos < m_size ? m_data[m_pos++] : 0; }

private:
    const uint8_t* m_data;
    size_t m_size;
    size_t m_pos = 0;
};

#ifdef KORVO_LIBFUZZER
#define KORVO_FUZZ_TARGET(Name, Runs, MaxLen)                                   \
    extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)    \
    {                                                                           \
        return Name(data, size);                                                \
    }
#else
#include <gtest/gtest.h>

#include <random>
#include <vector>

#define KORVO_FUZZ_TARGET(Name, Runs, MaxLen)                                   \
    TEST(Fuzz, Name)                                                            \
    {                                                                           \
        std::mt19937 rng(20261207u);                                            \
        std::vector<uint8_t> input;                                             \
        for (int run = 0; run < (Runs); ++run) {                                \
            input.resize(rng() % ((MaxLen) + 1));                               \
            for (auto& b : input)                                               \
                b = static_cast<uint8_t>(rng());                                \
            ASSERT_EQ(0, Name(input.data(), input.size())) << "run " << run;    \
        }                                                                       \
    }
#endif
