#include "panes/line_format.h"

#include "panes/column_zone.h"

#include <emmintrin.h>

#include <array>
#include <cstring>

namespace {

struct Tables
{
    std::array<char, 512> digits{};
    std::array<char, 512> upperDigits{};
    std::array<char, 256> text{};
    // A byte's cell, its two digits and two blanks: stored four bytes at a
    // time three columns apart, each store's last blank under the next cell.
    std::array<std::array<char, 4>, 256> cells{};
    // A full row of blanks with its separators, copied under every line.
    std::array<char, HEX_LINE_MAX> blank{};

    constexpr Tables()
    {
        const char* lower = "0123456789abcdef";
        for (int v = 0; v < 256; ++v) {
            digits[2 * v] = lower[v >> 4];
            digits[2 * v + 1] = lower[v & 15];
            upperDigits[2 * v] = "0123456789ABCDEF"[v >> 4];
            upperDigits[2 * v + 1] = "0123456789ABCDEF"[v & 15];
            cells[v] = {lower[v >> 4], lower[v & 15], ' ', ' '};
            text[v] = v >= 0x20 && v <= 0x7F ? static_cast<char>(v) : '.';
        }
        for (auto& c : blank)
            c = ' ';
        blank[8] = '|';
        blank[HEX_COL_BAR] = '|';
        blank[HEX_COL_TEXT_STOP] = '\r';
        blank[HEX_COL_TEXT_STOP + 1] = '\n';
    }
};

constexpr Tables kTables;
constexpr char kUpper[] = "0123456789ABCDEF";

} // namespace

char HexTextChar(std::uint8_t value)
{
    return kTables.text[value];
}

const char* HexDigits(std::uint8_t value)
{
    return &kTables.digits[2 * value];
}

namespace {

// A line of sixteen bytes, the dump's every line but perhaps its last, with
// no blank row copied first: each column is written once.
void FormatFullLine(const std::uint8_t* bytes, std::uint32_t offset, char* out)
{
    for (int d = 0; d < 4; ++d)
        std::memcpy(out + 2 * d, &kTables.upperDigits[2 * ((offset >> (24 - 8 * d)) & 0xFF)], 2);
    out[8] = '|';
    out[9] = ' ';
    for (int k = 0; k < 8; ++k)
        std::memcpy(out + HEX_COL_GROUP1 + 3 * k, kTables.cells[bytes[k]].data(), 4);
    for (int k = 0; k < 8; ++k)
        std::memcpy(out + HEX_COL_GROUP2 + 3 * k, kTables.cells[bytes[8 + k]].data(), 4);
    out[HEX_COL_BAR] = '|';
    // The text column, sixteen at once: 0x20-0x7F are the bytes whose signed
    // value is above 0x1F.
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes));
    const __m128i shown = _mm_cmpgt_epi8(b, _mm_set1_epi8(0x1F));
    const __m128i text = _mm_or_si128(_mm_and_si128(shown, b), _mm_andnot_si128(shown, _mm_set1_epi8('.')));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + HEX_COL_TEXT), text);
    out[HEX_COL_TEXT_STOP] = '\r';
    out[HEX_COL_TEXT_STOP + 1] = '\n';
}

} // namespace

int FormatHexLine(const std::uint8_t* data, int length, int line, char* out)
{
    if (line < 0)
        return 0;
    const long long off = static_cast<long long>(line) * HEX_BYTES_PER_LINE;
    if (off >= length)
        return 0;
    const int count = length - off < HEX_BYTES_PER_LINE ? static_cast<int>(length - off) : HEX_BYTES_PER_LINE;
    if (count == HEX_BYTES_PER_LINE && off + count < length) {
        FormatFullLine(data + off, static_cast<std::uint32_t>(off), out);
        return HEX_LINE_MAX;
    }
    std::memcpy(out, kTables.blank.data(), HEX_LINE_MAX);
    const auto offset = static_cast<std::uint32_t>(off);
    for (int d = 0; d < 8; ++d)
        out[d] = kUpper[(offset >> (28 - 4 * d)) & 15];
    const std::uint8_t* bytes = data + off;
    for (int k = 0; k < count; ++k) {
        const int col = k < 8 ? 3 * k + HEX_COL_GROUP1 : 3 * k + HEX_COL_GROUP1 + 1;
        const char* pair = &kTables.digits[2 * bytes[k]];
        out[col] = pair[0];
        out[col + 1] = pair[1];
        out[HEX_COL_TEXT + k] = kTables.text[bytes[k]];
    }
    if (off + count >= length) {
        out[HEX_COL_TEXT_STOP] = ' ';
        return HEX_LINE_MAX - 1;
    }
    return HEX_LINE_MAX;
}
