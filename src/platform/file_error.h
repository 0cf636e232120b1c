#pragma once

// The framework's file-error message for an error met after a file was
// opened, e.g. "Disk full while accessing %1." with the file's name.
#include <QString>

QString FileErrorMessage(int errnoValue, const QString& fileName);
