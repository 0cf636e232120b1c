#pragma once

#include <QString>

#include <cstdint>

// Why a capture ended before its Stop, or what its Stop could not write.
struct CaptureFailure
{
    enum Kind {
        CANNOT_OPEN,  // the file could not be opened: `error`
        WRITE_FAILED, // a write or the close failed: `error`
        FELL_BEHIND,  // the file took nothing while the session's data piled up
        DELETED,      // the file was deleted while capturing
        NOT_FINISHED, // Stop gave up waiting: `unwritten` bytes did not reach the file
    };
    Kind kind = WRITE_FAILED;
    QString path;
    // The errno value, where the system gave one.
    int error = 0;
    // Bytes of the session that were recorded but not written.
    std::uint64_t unwritten = 0;
    // The message for people, in the active language: the file, what
    // happened and the system's text.
    QString text;
};
