#pragma once

// Stands in for the terminal and the socket around a TelnetEngine: keeps the
// display text as bytes (one byte per character, a line per '\n') and every
// send as its own string.
#include "telnet/telnet_engine.h"

#include <algorithm>
#include <string>
#include <vector>

namespace korvo::test {

struct TelnetRecorder : TelnetDisplay, TelnetSink
{
    void InsertText(const char* text, int length) override
    {
        shown.append(text, static_cast<size_t>(length));
        inserted += static_cast<size_t>(length);
    }
    // Erases one character: a whole UTF-8 sequence, else one byte.
    void EraseBeforeCaret() override
    {
        if (shown.empty())
            return;
        size_t lead = shown.size() - 1;
        while (lead > 0 && shown.size() - lead < 4 &&
               (static_cast<unsigned char>(shown[lead]) & 0xC0) == 0x80)
            --lead;
        if (static_cast<unsigned char>(shown[lead]) >= 0xC0)
            shown.resize(lead);
        else
            shown.pop_back();
    }
    int LineCount() const override
    {
        return 1 + static_cast<int>(std::count(shown.begin(), shown.end(), '\n'));
    }
    void TrimHead(int count) override { shown.erase(0, std::min(shown.size(), static_cast<size_t>(count))); }
    void SetReadOnly() override { readOnly = true; }
    void Beep() override { ++beeps; }
    void Send(const void* data, int length) override
    {
        sends.emplace_back(static_cast<const char*>(data), static_cast<size_t>(length));
    }

    std::string shown;
    size_t inserted = 0;
    std::vector<std::string> sends;
    int beeps = 0;
    bool readOnly = false;
};

// Feeds a string as one read.
inline void Feed(TelnetEngine& engine, const std::string& bytes)
{
    engine.Process(reinterpret_cast<const std::uint8_t*>(bytes.data()), static_cast<int>(bytes.size()));
}

} // namespace korvo::test
