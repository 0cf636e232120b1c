#pragma once

// The application's profile: integer values by section and entry, stored with
// QSettings under the company key (organisation) and the executable's name.
#include <QString>

// The company folder of the profile and of the files beside it
// (~/.config/MerrowSystems/), shared by the window and korvo-cli.
inline constexpr char PROFILE_COMPANY[] = "MerrowSystems";

class Profile {
public:
    // Company key as set at start-up; the application name is the executable's.
    static void SetRegistryKey(const QString& company);

    // The stored integer, or `defaultValue` when absent, unreadable or not a number.
    static int GetProfileInt(const QString& section, const QString& entry, int defaultValue);

    // Writes the value; false when the profile could not be written.
    static bool WriteProfileInt(const QString& section, const QString& entry, int value);

    // Text values, for settings such as file names.
    static QString GetProfileString(const QString& section, const QString& entry,
                                    const QString& defaultValue);
    static bool WriteProfileString(const QString& section, const QString& entry, const QString& value);

    // Where the profile lives (for messages and tests).
    static QString FilePath();
};
