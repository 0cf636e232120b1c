#pragma once

// How the capture's records become the bytes of its file, one encoder per
// format. Encoders run on the capture's writer thread and end each record
// with CaptureFile::EndRecord.
#include "capture/capture_file.h"
#include "net/session_tap.h"

#include <QString>

#include <chrono>
#include <memory>

enum class CaptureFormat { Pcap, Transcript };

// The file's suffix picks the format (.pcap or .txt, in any case); any other
// name takes the chosen filter's (1: pcap, 2: transcript).
CaptureFormat CaptureFormatFor(const QString& path, int filterIndex);

class CaptureEncoder
{
public:
    using Time = std::chrono::system_clock::time_point;

    virtual ~CaptureEncoder() = default;
    // The file's own header, if it has one; 0 or an errno value.
    virtual int Begin(CaptureFile&) { return 0; }
    virtual void Opened(const SessionInfo& session, Time time, CaptureFile& file) = 0;
    // `data` has PACKET_HEADROOM writable bytes before it. `to`: where a
    // received datagram was addressed, or null.
    virtual void Block(bool received, std::uint8_t* data, int length, const sockaddr* peer,
                       const sockaddr* to, Time time, CaptureFile& file) = 0;
    virtual void Ended(const SessionEnd& end, Time time, CaptureFile& file) = 0;
};

std::unique_ptr<CaptureEncoder> MakeCaptureEncoder(CaptureFormat format);
