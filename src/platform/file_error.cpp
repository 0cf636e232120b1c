#include "platform/file_error.h"

#include <cerrno>

QString FileErrorMessage(int errnoValue, const QString& fileName)
{
    const char* text = "An unexpected error occurred while accessing %1.";
    switch (errnoValue) {
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
        text = "Disk full while accessing %1.";
        break;
    case EIO:
        text = "A hardware I/O error was reported while accessing %1.";
        break;
    case EACCES:
    case EPERM:
    case EROFS:
        text = "Access to %1 was denied.";
        break;
    case ENOENT:
        text = "%1 was not found.";
        break;
    case EBADF:
    case EISDIR:
        text = "An invalid file handle was associated with %1.";
        break;
    case ENFILE:
    case EMFILE:
        text = "%1 could not be opened because there are too many open files.";
        break;
    default:
        break;
    }
    return QString::fromLatin1(text).arg(fileName);
}
