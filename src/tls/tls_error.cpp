#include "tls/tls_error.h"

#include "platform/strings.h"

#include <array>

namespace {

std::array<QString, TLS_ERROR_LAST - TLS_ERROR_FIRST + 1>& Latest()
{
    static std::array<QString, TLS_ERROR_LAST - TLS_ERROR_FIRST + 1> texts;
    return texts;
}

} // namespace

void RecordTlsFailure(int code, const QString& text)
{
    if (IsTlsError(code))
        Latest()[static_cast<size_t>(code - TLS_ERROR_FIRST)] = text;
}

QString TlsFailureText(int code)
{
    if (!IsTlsError(code))
        return {};
    const QString& text = Latest()[static_cast<size_t>(code - TLS_ERROR_FIRST)];
    return text.isEmpty() ? LoadStr(442) : text;
}
