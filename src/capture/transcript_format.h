#pragma once

// The text transcript of a capture, for `less` and `grep`: a header line per
// block, then the block in the pane's own 16-byte hex + text lines, and a
// line of its own for each session's opening and end:
//
//   = 2025-03-04 10:11:12.345678 TCP client opened, local 127.0.0.1 : 40312, remote 127.0.0.1 : 5000
//   > 2025-03-04 10:11:12.400001 127.0.0.1 : 5000, 5 bytes
//   00000000| 68 65 6c 6c 6f                                   |hello
//   < 2025-03-04 10:11:12.400950 127.0.0.1 : 5000, 2 bytes
//   00000000| 6f 6b                                            |ok
//   = 2025-03-04 10:11:13.000000 ended, closed by the remote side
//
// `<` received, `>` sent, `=` the session; times are local, to the
// microsecond. A session ends "closed by the local side" (Korvo) or "the
// remote side", or "by error on" one of them, with the error's name. The file is the same in every language,
// so that it reads the same to grep. No widgets, no files.
#include "net/session_tap.h"

#include <chrono>
#include <cstdint>
#include <string>

class TranscriptFormat
{
public:
    // The most characters Block writes for `length` bytes.
    static std::size_t BlockRoom(int length);

    // Writes the header line and the lines of the block; returns the count.
    std::size_t Block(char* out, bool received, std::chrono::system_clock::time_point time,
                      const sockaddr* peer, const std::uint8_t* data, int length);
    std::string Opened(const SessionInfo& session, std::chrono::system_clock::time_point time);
    std::string Ended(const SessionEnd& end, std::chrono::system_clock::time_point time);

private:
    // "YYYY-MM-DD HH:MM:SS.uuuuuu"; returns the count written.
    int Time(char* out, std::chrono::system_clock::time_point time);
    const std::string& PeerText(const sockaddr* peer);

    // The date and time of the last second formatted, which most blocks share.
    std::int64_t m_nSecond = -1;
    char m_szSecond[32] = {};
    int m_nSecondLength = 0;
    // The text of the last peer, which most blocks share.
    sockaddr_storage m_peer{};
    std::string m_strPeer;
};
