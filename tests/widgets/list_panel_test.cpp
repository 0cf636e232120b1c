// A list kept in a file, through the table and buttons any list window
// shows: real files in a temporary folder, the message boxes and file
// dialogs replaced by the test seams.
#include "messages/list_window.h"

#include "support/file_dialogs.h"
#include "support/message_boxes.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QPushButton>
#include <QTableView>
#include <QTemporaryDir>

#include <memory>

using korvo::test::FileDialogs;
using korvo::test::MessageBoxes;

namespace {

struct Item
{
    QString name;
    QByteArray bytes;
};

using ItemModel = CListModel<Item>;

std::unique_ptr<ItemModel> MakeModel()
{
    return std::make_unique<ItemModel>(
        std::vector<ItemModel::Column>{{"Name", [](const Item& i) { return i.name; }}},
        [](const Item& i) {
            return QJsonObject{{"name", i.name}, {"hex", QString::fromLatin1(i.bytes.toHex())}};
        },
        [](const QJsonObject& o) -> std::optional<Item> {
            if (!o.value("name").isString())
                return std::nullopt;
            return Item{o.value("name").toString(),
                        QByteArray::fromHex(o.value("hex").toString().toLatin1())};
        });
}

QByteArray ReadAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

void WriteAll(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

// One window's worth: model, file and panel, as a list window opens them.
struct Window
{
    explicit Window(const QString& path) : file(path, "items", 1)
    {
        panel = std::make_unique<CListPanel>(
            model.get(), &file,
            [this](int row) {
                if (row < 0) {
                    model->Insert(model->Count(), next);
                    return model->Count() - 1;
                }
                model->Replace(row, next);
                return row;
            },
            "Items");
        panel->Load();
    }
    QStringList Names() const
    {
        QStringList names;
        for (const Item& i : model->Rows())
            names << i.name;
        return names;
    }

    std::unique_ptr<ItemModel> model = MakeModel();
    CListFile file;
    std::unique_ptr<CListPanel> panel;
    Item next{"new", "\x01\x02"};
};

class ListPanel : public testing::Test
{
protected:
    QString PathOf(const char* name) const { return dir.filePath(QString::fromLatin1(name)); }

    QTemporaryDir dir;
    MessageBoxes boxes;
    FileDialogs files;
};

TEST_F(ListPanel, EveryChangeIsWrittenAndReadBackInOrder)
{
    const QString path = PathOf("sub/items.json");
    {
        Window w(path);
        EXPECT_EQ(0, w.model->Count());
        EXPECT_FALSE(QFile::exists(path));
        w.panel->m_btnAdd->click();
        w.next = {"second", QByteArray(1000, '\0')};
        w.panel->m_btnAdd->click();
        w.panel->m_btnDuplicate->click();
        EXPECT_EQ(2, w.panel->CurrentRow());
        w.next = {"third", "\xff"};
        w.panel->m_btnEdit->click();
        w.panel->m_btnMoveUp->click();
        w.panel->m_btnMoveUp->click();
        EXPECT_FALSE(w.panel->m_btnMoveUp->isEnabled());
        w.panel->SelectRow(1);
        w.panel->m_btnRemove->click();
        EXPECT_EQ((QStringList{"third", "second"}), w.Names());
    }
    const QJsonObject root = QJsonDocument::fromJson(ReadAll(path)).object();
    EXPECT_EQ("items", root.value("kind").toString());
    EXPECT_EQ(1, root.value("version").toInt());
    Window again(path);
    EXPECT_EQ((QStringList{"third", "second"}), again.Names());
    EXPECT_EQ(QByteArray(1000, '\0'), again.model->At(1).bytes);
    EXPECT_TRUE(boxes.shown.empty());
}

TEST_F(ListPanel, ABadFileIsKeptAsideOnceToldAndNeverOverwritten)
{
    const QString path = PathOf("items.json");
    const struct
    {
        const char* why;
        QByteArray content;
        const char* keptAs;
        const char* reason;
    } cases[] = {
        {"not JSON", "{\"kind\": \"items\", \"vers", "items.json.bad", "not valid JSON at byte"},
        {"another kind", R"({"kind": "other", "version": 1, "rows": []})", "items.json.2.bad",
         "not a list this version of Korvo reads"},
        {"a newer version", R"({"kind": "items", "version": 2, "rows": []})", "items.json.3.bad",
         "not a list this version of Korvo reads"},
        {"a row refused", R"({"kind": "items", "version": 1, "rows": [{"name": "a"}, {"hex": "01"}]})",
         "items.json.4.bad", "entry 2 is not valid"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        boxes.shown.clear();
        WriteAll(path, c.content);
        Window w(path);
        EXPECT_EQ(0, w.model->Count());
        ASSERT_EQ(1u, boxes.shown.size());
        const QString told = boxes.shown[0].text;
        EXPECT_TRUE(told.contains(QString::fromLatin1(c.keptAs)) &&
                    told.contains(QString::fromLatin1(c.reason)))
            << told.toStdString();
        EXPECT_EQ(c.content, ReadAll(PathOf(c.keptAs)));
        EXPECT_FALSE(QFile::exists(path));
        // The next change starts a new file beside the kept one.
        w.panel->m_btnAdd->click();
        EXPECT_EQ(1u, boxes.shown.size());
        EXPECT_TRUE(QFile::exists(path));
        QFile::remove(path);
    }
}

TEST_F(ListPanel, AnUnwritableFolderIsToldOnceUntilAWriteSucceeds)
{
    // A file where the folder should be: nothing can be created in it.
    WriteAll(PathOf("blocked"), "x");
    Window w(PathOf("blocked/items.json"));
    w.panel->m_btnAdd->click();
    w.panel->m_btnAdd->click();
    ASSERT_EQ(1u, boxes.shown.size());
    EXPECT_TRUE(boxes.shown[0].text.contains("blocked/items.json could not be written"))
        << boxes.shown[0].text.toStdString();
    EXPECT_EQ(2, w.model->Count());

    QFile::remove(PathOf("blocked"));
    w.panel->m_btnAdd->click();
    EXPECT_TRUE(QFile::exists(PathOf("blocked/items.json")));
    ASSERT_TRUE(QFile::remove(PathOf("blocked/items.json")) && QDir(dir.path()).rmdir("blocked"));
    WriteAll(PathOf("blocked"), "x");
    w.panel->m_btnAdd->click();
    EXPECT_EQ(2u, boxes.shown.size());
}

TEST_F(ListPanel, ImportAddsAllOrNothingAndExportWritesTheSameFormat)
{
    Window w(PathOf("items.json"));
    w.panel->m_btnAdd->click();

    const QString good = PathOf("good.json");
    WriteAll(good, R"({"kind": "items", "version": 1, "rows": [{"name": "a", "hex": "41"}, {"name": "b"}]})");
    const QString bad = PathOf("bad.json");
    WriteAll(bad, R"({"kind": "items", "version": 1, "rows": [{"name": "a"}, 7]})");
    for (const QString& path : {bad, PathOf("missing.json"), good}) {
        files.Choose(path);
        w.panel->m_btnImport->click();
    }
    ASSERT_EQ(2u, boxes.shown.size());
    EXPECT_EQ(QDir::toNativeSeparators(bad) + " could not be read: entry 2 is not valid.",
              boxes.shown[0].text);
    EXPECT_TRUE(boxes.shown[1].text.contains("No such file or directory"));
    EXPECT_EQ((QStringList{"new", "a", "b"}), w.Names());
    EXPECT_EQ(1, w.panel->CurrentRow());

    files.Choose(PathOf("out.json"));
    w.panel->m_btnExport->click();
    EXPECT_EQ(ReadAll(PathOf("items.json")), ReadAll(PathOf("out.json")));
    EXPECT_EQ("json", files.asked.back().defaultExtension.toStdString());
    EXPECT_TRUE(files.asked.back().overwritePrompt);
}

} // namespace
