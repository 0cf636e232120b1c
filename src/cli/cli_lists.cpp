#include "cli/cli_lists.h"

#include "messages/list_file.h"
#include "replies/reply_file.h"

#include <QJsonObject>

namespace {

template <class Row, class FromJson>
CliListLoad LoadList(const QString& given, const QString& fileName, const QString& kind, int version,
                     FromJson fromJson, std::vector<Row>& rows)
{
    CliListLoad load;
    load.path = given.isEmpty() ? CListFile::BesideProfile(fileName) : given;
    const CListFile file(load.path, kind, version);
    const ListFileRead read = file.Read(load.path);
    switch (read.status) {
    case ListFileRead::Missing:
        load.error = QStringLiteral("%1: no such file").arg(load.path);
        return load;
    case ListFileRead::Bad:
    case ListFileRead::Newer:
        load.error = QStringLiteral("%1: %2").arg(load.path, read.reason);
        return load;
    case ListFileRead::Ok:
        break;
    }
    for (qsizetype i = 0; i < read.rows.size(); ++i) {
        std::optional<Row> row = fromJson(read.rows[i].toObject());
        if (!row) {
            load.error = QStringLiteral("%1: entry %2 is not valid").arg(load.path).arg(i + 1);
            return load;
        }
        rows.push_back(std::move(*row));
    }
    load.ok = true;
    return load;
}

} // namespace

CliListLoad LoadCliMessages(const QString& path, std::vector<SavedMessage>& messages)
{
    return LoadList(path, QStringLiteral("messages.json"), QStringLiteral("messages"), MESSAGES_FILE_VERSION,
                    MessageFromJson, messages);
}

CliListLoad LoadCliReplies(const QString& path, std::vector<ReplyRule>& rules)
{
    return LoadList(path, QStringLiteral("replies.json"), QStringLiteral("replies"), REPLIES_FILE_VERSION,
                    ReplyRuleFromJson, rules);
}
