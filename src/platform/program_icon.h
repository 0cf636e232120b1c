#pragma once

#include <QIcon>

// The program icon (resource 128), shared by every window that shows it.
inline QIcon ProgramIcon()
{
    return QIcon(QStringLiteral(":/korvo.png"));
}
