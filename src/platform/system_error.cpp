#include "platform/system_error.h"

#include "tls/tls_error.h"

#include <netdb.h>

#include <climits>
#include <cstring>

QString SystemErrorText(int code)
{
    if (code < 0) {
        // The resolver answers unknown codes with one fixed text.
        const char* text = gai_strerror(code);
        if (!text || std::strcmp(text, gai_strerror(INT_MIN)) == 0)
            return {};
        return QString::fromLocal8Bit(text);
    }
    if (IsTlsError(code))
        return TlsFailureText(code);
    // strerrordesc_np knows exactly the codes that have a text; strerror
    // gives that text in the user's language.
    if (!strerrordesc_np(code))
        return {};
    return QString::fromLocal8Bit(strerror(code));
}
