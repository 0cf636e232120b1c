#pragma once

// TLS failures travel as error codes beside errno values, so the session's
// handlers, which report any event's code through SystemErrorText, need no
// branch of their own. The words for the latest failure of each code (with
// the peer's fingerprint and the like) are kept here, as errno's text is
// kept by the system.
#include <QString>

enum TlsErrorCode : int {
    TLS_ERROR_FIRST = 0x7E000,
    TLS_ERR_VERIFY = TLS_ERROR_FIRST,
    TLS_ERR_PIN,
    TLS_ERR_NO_SHARED_CIPHER,
    TLS_ERR_VERSION,
    TLS_ERR_NOT_TLS,
    TLS_ERR_NO_PEER_CERTIFICATE,
    TLS_ERR_REFUSED,
    TLS_ERR_PEER_CLOSED,
    TLS_ERR_TIMEOUT,
    TLS_ERR_PROTOCOL,
    TLS_ERROR_LAST = TLS_ERR_PROTOCOL,
};

inline bool IsTlsError(int code)
{
    return code >= TLS_ERROR_FIRST && code <= TLS_ERROR_LAST;
}

// Keeps the words of a failure that has just happened.
void RecordTlsFailure(int code, const QString& text);
// The words of the latest failure with this code; a general text when none
// was recorded.
QString TlsFailureText(int code);
