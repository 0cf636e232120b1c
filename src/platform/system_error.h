#pragma once

// The system's text for an error code: positive codes are errno values,
// negative codes are resolver (getaddrinfo) codes. Empty when the system has
// no text for the code.
#include <QString>

QString SystemErrorText(int code);
