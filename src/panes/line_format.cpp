#include "panes/line_format.h"

#include "panes/column_zone.h"

#include <array>
#include <cstring>

namespace {

struct Tables
{
    std::array<char, 512> digits{};
    std::array<char, 256> text{};
    // A full row of blanks with its separators, copied under every line.
    std::array<char, HEX_LINE_MAX> blank{};

    constexpr Tables()
    {
        const char* lower = "0123456789abcdef";
        for (int v = 0; v < 256; ++v) {
            digits[2 * v] = lower[v >> 4];
            digits[2 * v + 1] = lower[v & 15];
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

int FormatHexLine(const std::uint8_t* data, int length, int line, char* out)
{
    if (line < 0)
        return 0;
    const long long off = static_cast<long long>(line) * HEX_BYTES_PER_LINE;
    if (off >= length)
        return 0;
    const int count = length - off < HEX_BYTES_PER_LINE ? static_cast<int>(length - off) : HEX_BYTES_PER_LINE;
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
