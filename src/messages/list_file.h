#pragma once

// Shared with the automatic replies window (src/replies/): a list kept as a
// JSON file beside the profile,
//
//   {"kind": "messages", "version": 1, "rows": [ {...}, ... ]}
//
// written whole and atomically (QSaveFile) after every change, or not at all:
// a write that fails leaves the old file as it was. Writing refuses a list
// larger than reading takes. The rows are the caller's: it turns them into
// JSON objects and back. No widgets here; the list window tells the user
// what went wrong.
#include <QJsonArray>
#include <QString>

#include <functional>

// What reading a list file gave.
struct ListFileRead
{
    enum Status {
        Ok,
        Missing, // no file: an empty list
        Bad,     // unreadable, not JSON, not this kind, or a row the caller refused
        Newer,   // this kind, written by a newer program
    };
    Status status = Ok;
    QJsonArray rows;
    // Bad and Newer: why, for the user (localised).
    QString reason;
};

class CListFile
{
public:
    // Refuses a row array by returning false with a reason, e.g. "entry 3 is
    // not valid"; on true the caller has taken the rows.
    using AcceptRows = std::function<bool(const QJsonArray& rows, QString* reason)>;

    // The most a list file may hold; a larger one is not read.
    static constexpr qint64 MAX_FILE_SIZE = 256LL * 1024 * 1024;

    // `maxFileSize`: the most a file of this list may hold, read or written.
    CListFile(QString path, QString kind, int version, qint64 maxFileSize = MAX_FILE_SIZE);

    const QString& Path() const { return m_path; }

    // What the start-up read found, for the user to be told once.
    struct LoadOutcome
    {
        ListFileRead::Status status = ListFileRead::Ok;
        QString reason;
        // Bad: where the file was kept, or would have been when `moveError`
        // says why it could not be moved (then saving stays off).
        QString badName;
        QString moveError;
    };
    // Reads the list at start. A bad file is kept as NAME.bad (NAME.2.bad,
    // ... when that is taken), so that nothing the user had is overwritten;
    // if it cannot be moved, Save refuses until the program starts again. A
    // newer program's file stays where it is, for that program, and Save
    // refuses too: what this one would write has lost what it does not know.
    LoadOutcome Load(const AcceptRows& accept);

    // Writes the whole list; false with the reason when it cannot (no reason
    // while saving is off). `tooLarge`: the list would be larger than reading
    // takes, and nothing was written.
    bool Save(const QJsonArray& rows, QString* error, bool* tooLarge = nullptr);
    bool SavingAllowed() const { return m_bSaveAllowed; }
    qint64 MaxFileSize() const { return m_nMaxFileSize; }

    // Any file of this kind (Import, Export).
    ListFileRead Read(const QString& path) const;
    bool Write(const QString& path, const QJsonArray& rows, QString* error, bool* tooLarge = nullptr) const;

    // `fileName` in the folder of the profile.
    static QString BesideProfile(const QString& fileName);

private:
    QString m_path;
    QString m_kind;
    int m_nVersion;
    qint64 m_nMaxFileSize;
    bool m_bSaveAllowed = true;
};
