#include "messages/list_file.h"

#include "platform/profile.h"
#include "platform/strings.h"
#include "platform/system_error.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QSaveFile>

#include <cerrno>
#include <utility>

namespace {

const QLatin1String kKindKey("kind");
const QLatin1String kVersionKey("version");
const QLatin1String kRowsKey("rows");

// The first free name of NAME.bad, NAME.2.bad, NAME.3.bad, ...
QString FreeBadName(const QString& path)
{
    QString name = path + QStringLiteral(".bad");
    for (int n = 2; QFileInfo::exists(name) && n < 1000; ++n)
        name = path + QStringLiteral(".%1.bad").arg(n);
    return name;
}

} // namespace

CListFile::CListFile(QString path, QString kind, int version, qint64 maxFileSize)
    : m_path(std::move(path)), m_kind(std::move(kind)), m_nVersion(version), m_nMaxFileSize(maxFileSize)
{
}

QString CListFile::BesideProfile(const QString& fileName)
{
    return QFileInfo(Profile::FilePath()).absoluteDir().filePath(fileName);
}

ListFileRead CListFile::Read(const QString& path) const
{
    ListFileRead read;
    QFile file(path);
    if (!file.exists()) {
        read.status = ListFileRead::Missing;
        return read;
    }
    read.status = ListFileRead::Bad;
    if (!file.open(QIODevice::ReadOnly)) {
        read.reason = file.errorString();
        return read;
    }
    if (file.size() > m_nMaxFileSize) {
        read.reason = SystemErrorText(EFBIG);
        return read;
    }
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        read.reason = file.errorString();
        return read;
    }
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject()) {
        read.reason = LoadStr(256).arg(error.error != QJsonParseError::NoError ? error.offset + 1 : 1);
        return read;
    }
    const QJsonObject root = document.object();
    const QJsonValue version = root.value(kVersionKey);
    const bool kind = root.value(kKindKey).toString() == m_kind && version.isDouble();
    // A newer program's file is left for it: reading part of it and saving
    // would lose what this one does not know.
    if (kind && version.toDouble() > m_nVersion) {
        read.status = ListFileRead::Newer;
        read.reason = LoadStr(310);
        return read;
    }
    if (!kind || version.toInt() < 1 || !root.value(kRowsKey).isArray()) {
        read.reason = LoadStr(257);
        return read;
    }
    read.status = ListFileRead::Ok;
    read.rows = root.value(kRowsKey).toArray();
    return read;
}

bool CListFile::Write(const QString& path, const QJsonArray& rows, QString* error, bool* tooLarge) const
{
    if (tooLarge)
        *tooLarge = false;
    QJsonObject root;
    root.insert(kKindKey, m_kind);
    root.insert(kVersionKey, m_nVersion);
    root.insert(kRowsKey, rows);
    const QByteArray document = QJsonDocument(root).toJson(QJsonDocument::Indented);
    // What could not be read back is never written.
    if (document.size() > m_nMaxFileSize) {
        if (tooLarge)
            *tooLarge = true;
        if (error)
            *error = SystemErrorText(EFBIG);
        return false;
    }
    const QFileInfo info(path);
    errno = 0;
    if (!QDir().mkpath(info.absolutePath())) {
        if (error)
            *error = SystemErrorText(errno != 0 ? errno : EACCES);
        return false;
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        if (error)
            *error = file.errorString();
        return false;
    }
    // A small document stays in the buffer until the flush, and commit()
    // reports a flush that failed (a full disk) as success: check both, so
    // that a failed write never takes the old file's place.
    if (file.write(document) != document.size() || !file.flush() || file.error() != QFileDevice::NoError) {
        if (error)
            *error = file.errorString();
        file.cancelWriting();
        return false;
    }
    if (!file.commit()) {
        if (error)
            *error = file.errorString();
        return false;
    }
    return true;
}

CListFile::LoadOutcome CListFile::Load(const AcceptRows& accept)
{
    LoadOutcome outcome;
    ListFileRead read = Read(m_path);
    outcome.status = read.status;
    if (read.status == ListFileRead::Newer) {
        outcome.reason = read.reason;
        m_bSaveAllowed = false;
        return outcome;
    }
    if (read.status == ListFileRead::Ok && !accept(read.rows, &read.reason))
        outcome.status = ListFileRead::Bad;
    if (outcome.status != ListFileRead::Bad)
        return outcome;

    outcome.reason = read.reason;
    outcome.badName = FreeBadName(m_path);
    QFile file(m_path);
    if (!file.rename(outcome.badName)) {
        outcome.moveError = file.errorString();
        // Saving would overwrite what the user had.
        m_bSaveAllowed = false;
    }
    return outcome;
}

bool CListFile::Save(const QJsonArray& rows, QString* error, bool* tooLarge)
{
    if (tooLarge)
        *tooLarge = false;
    // The user was told when the list was read.
    if (!m_bSaveAllowed) {
        if (error)
            error->clear();
        return false;
    }
    return Write(m_path, rows, error, tooLarge);
}
