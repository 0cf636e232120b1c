#include "platform/profile.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QSettings>

namespace {

QString& Company()
{
    static QString company;
    return company;
}

QString ApplicationName()
{
    // The executable's file name without extension, as the profile's key.
    QString name = QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName();
    if (name.isEmpty())
        name = QCoreApplication::applicationName();
    return name;
}

} // namespace

void Profile::SetRegistryKey(const QString& company)
{
    Company() = company;
}

QString Profile::FilePath()
{
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, Company(), ApplicationName()).fileName();
}

int Profile::GetProfileInt(const QString& section, const QString& entry, int defaultValue)
{
    QSettings settings(QSettings::NativeFormat, QSettings::UserScope, Company(), ApplicationName());
    if (settings.status() != QSettings::NoError)
        return defaultValue;
    const QVariant value = settings.value(section + QLatin1Char('/') + entry);
    if (!value.isValid())
        return defaultValue;
    bool ok = false;
    const int n = value.toString().trimmed().toInt(&ok);
    return ok ? n : defaultValue;
}

bool Profile::WriteProfileInt(const QString& section, const QString& entry, int value)
{
    QSettings settings(QSettings::NativeFormat, QSettings::UserScope, Company(), ApplicationName());
    settings.setValue(section + QLatin1Char('/') + entry, value);
    settings.sync();
    return settings.status() == QSettings::NoError;
}

QString Profile::GetProfileString(const QString& section, const QString& entry, const QString& defaultValue)
{
    QSettings settings(QSettings::NativeFormat, QSettings::UserScope, Company(), ApplicationName());
    if (settings.status() != QSettings::NoError)
        return defaultValue;
    const QVariant value = settings.value(section + QLatin1Char('/') + entry);
    return value.isValid() ? value.toString() : defaultValue;
}

bool Profile::WriteProfileString(const QString& section, const QString& entry, const QString& value)
{
    QSettings settings(QSettings::NativeFormat, QSettings::UserScope, Company(), ApplicationName());
    settings.setValue(section + QLatin1Char('/') + entry, value);
    settings.sync();
    return settings.status() == QSettings::NoError;
}
