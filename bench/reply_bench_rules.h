#pragma once

// The rules the replies' benchmark and harness measure with: sixteen
// "contains" patterns of 4 to 32 bytes, half of them text commands as
// devices take them, half of them binary; and a thousand rules, a quarter of
// each kind, that the flood's bytes never match.
#include "replies/reply_matcher.h"

#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <utility>
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

// The floods send bytes i * 13 (mod 256): a pattern occurs in them when
// each byte is 13 more than the one before.
inline bool InFlood(const std::string& p)
{
    for (std::size_t i = 1; i < p.size(); ++i) {
        if (static_cast<std::uint8_t>(p[i] - p[i - 1]) != 13)
            return false;
    }
    return true;
}

// 250 rules of each kind, 2 to 40 bytes: device commands with numbers in
// them and binary frames, none of which the flood contains.
inline std::vector<std::pair<ReplyWhen, std::string>> ThousandRulesOfEveryKind()
{
    static const char* const commands[] = {
        "AT+CMD%d\r",    "GET /dev/%d HTTP/1.1\r\n", "STATUS %d?\r\n",  "{\"id\":%d}", "$GPRMC,%d,",
        "READ REG %d\n", "LOGIN user%d\r\n",         "<poll n=\"%d\"/>"};
    std::mt19937 rng(1000);
    std::vector<std::pair<ReplyWhen, std::string>> rules;
    for (int kind = 0; kind < 4; ++kind) {
        for (int n = 0; n < 250;) {
            std::string p;
            if (n % 2 == 0) {
                char text[64];
                std::snprintf(text, sizeof text, commands[n / 2 % 8], kind * 1000 + n);
                p = text;
            } else {
                // Half of the frames begin with STX, the other half with any byte.
                p.assign(2 + rng() % 39, '\0');
                for (char& b : p)
                    b = static_cast<char>(rng());
                if (n % 4 == 1)
                    p[0] = '\x02';
            }
            if (InFlood(p))
                continue;
            rules.emplace_back(static_cast<ReplyWhen>(kind), p);
            ++n;
        }
    }
    return rules;
}

} // namespace bench
