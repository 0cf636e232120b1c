#pragma once

// The rules the replies' benchmark and harness measure with: sixteen
// "contains" patterns of 4 to 32 bytes, half of them text commands as
// devices take them, half of them binary.
#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace bench {

inline std::vector<std::string> SixteenContainsPatterns()
{
    std::vector<std::string> patterns = {
        "PING",
        "AT+CSQ\r",
        "STATUS?\r\n",
        "RESET\r\n",
        "$GPGGA,",
        "LOGIN admin\r\n",
        "{\"cmd\":\"poll\",\"id\":1}",
        "GET /status HTTP/1.1\r\nHost: dev\r\n",
    };
    std::mt19937 rng(16);
    for (std::size_t length = 4; patterns.size() < 16; length += 4) {
        std::string p(length, '\0');
        for (char& b : p)
            b = static_cast<char>(rng());
        patterns.push_back(p);
    }
    return patterns;
}

} // namespace bench
