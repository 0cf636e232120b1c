// A list kept in a file, through the table and buttons any list window
// shows: real files in a temporary folder, the message boxes and file
// dialogs replaced by the test seams.
#include "messages/list_window.h"

#include "network/netns.h"
#include "platform/system_error.h"
#include "support/file_dialogs.h"
#include "support/message_boxes.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QPushButton>
#include <QTableView>
#include <QTemporaryDir>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <functional>
#include <memory>
#include <string>

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
        // A row named "unreadable" stands for one that its own file form
        // does not give back.
        [](const QJsonObject& o) -> std::optional<Item> {
            if (!o.value("name").isString() || o.value("name").toString() == "unreadable")
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
    explicit Window(const QString& path, qint64 maxFileSize = CListFile::MAX_FILE_SIZE)
        : file(path, "items", 1, maxFileSize)
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
        {"a row refused", R"({"kind": "items", "version": 1, "rows": [{"name": "a"}, {"hex": "01"}]})",
         "items.json.3.bad", "entry 2 is not valid"},
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

TEST_F(ListPanel, AListFromANewerVersionIsLeftAsItIsAndNeverOverwritten)
{
    const QString path = PathOf("items.json");
    const QByteArray newer = R"({"kind": "items", "version": 2, "rows": [{"name": "a", "colour": "red"}]})";
    WriteAll(path, newer);
    Window w(path);
    EXPECT_EQ(0, w.model->Count());
    ASSERT_EQ(1u, boxes.shown.size());
    EXPECT_TRUE(boxes.LastText().contains("newer version") && boxes.LastText().contains("not saved"))
        << boxes.LastText().toStdString();
    w.panel->m_btnAdd->click();
    w.panel->m_btnAdd->click();
    EXPECT_TRUE(newer == ReadAll(path));
    EXPECT_FALSE(QFile::exists(path + ".bad"));
    EXPECT_EQ(1u, boxes.shown.size());

    // Imported, it is refused with the same reason.
    files.Choose(path);
    w.panel->m_btnImport->click();
    ASSERT_EQ(2u, boxes.shown.size());
    EXPECT_TRUE(boxes.LastText().contains("newer version")) << boxes.LastText().toStdString();
    EXPECT_EQ(2, w.model->Count());
}

// A disk that fills up: the saved list keeps what it held, no temporary file
// is left behind, and the user is told once, with the system's reason. Export
// meets the same disk.
TEST_F(ListPanel, AFullDiskLeavesTheSavedListAsItWasAndSaysWhy)
{
    KORVO_RUN_IN_MOUNT_NS("mkdir -p '" KORVO_BINARY_DIR "/full-list' && "
                          "mount -t tmpfs -o size=64k korvo-full-list '" KORVO_BINARY_DIR "/full-list'");
    const QDir folder(QStringLiteral(KORVO_BINARY_DIR "/full-list"));
    const QString path = folder.filePath("items.json");
    Window w(path);
    for (int i = 0; i < 3; ++i)
        w.panel->m_btnAdd->click();
    const QByteArray saved = ReadAll(path);
    ASSERT_EQ(3, QJsonDocument::fromJson(saved).object().value("rows").toArray().size());

    const QByteArray filler = QFile::encodeName(folder.filePath("filler"));
    {
        const int fd = ::open(filler.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ASSERT_GE(fd, 0);
        const std::string block(4096, 'f');
        for (int i = 0; i < 64 && ::write(fd, block.data(), block.size()) > 0; ++i) {
        }
        ::close(fd);
    }
    w.panel->SelectRow(0);
    w.panel->m_btnDuplicate->click();
    w.panel->m_btnDuplicate->click();
    EXPECT_EQ(5, w.model->Count());
    EXPECT_TRUE(saved == ReadAll(path));
    ASSERT_EQ(1u, boxes.shown.size());
    EXPECT_TRUE(boxes.LastText().contains(path) && boxes.LastText().contains(SystemErrorText(ENOSPC)))
        << boxes.LastText().toStdString();

    files.Choose(folder.filePath("out.json"));
    w.panel->m_btnExport->click();
    ASSERT_EQ(2u, boxes.shown.size());
    EXPECT_TRUE(boxes.LastText().contains("out.json") && boxes.LastText().contains(SystemErrorText(ENOSPC)))
        << boxes.LastText().toStdString();
    EXPECT_EQ((QStringList{"filler", "items.json"}), folder.entryList(QDir::Files | QDir::Hidden));

    // Room again: the next change is written whole.
    ASSERT_TRUE(QFile::remove(QFile::decodeName(filler)));
    w.panel->m_btnRemove->click();
    Window again(path);
    EXPECT_EQ(4, again.model->Count());
    EXPECT_EQ(2u, boxes.shown.size());
}

// The file may hold no more than reading takes: a change that would make it
// larger is refused before anything is written, whichever button made it,
// and what was written reads back.
TEST_F(ListPanel, AChangeThatWouldOutgrowWhatIsReadBackIsRefused)
{
    const QString path = PathOf("items.json");
    constexpr qint64 kMax = 1024;
    Window w(path, kMax);
    w.next = {"row", QByteArray(100, 'x')};
    while (boxes.shown.empty() && w.model->Count() < 100)
        w.panel->m_btnAdd->click();
    ASSERT_EQ(1u, boxes.shown.size());
    EXPECT_TRUE(boxes.LastText().contains("larger than 1 KiB") && boxes.LastText().contains("not made"))
        << boxes.LastText().toStdString();
    const int rows = w.model->Count();
    ASSERT_GT(rows, 0);
    const QByteArray saved = ReadAll(path);
    EXPECT_LE(saved.size(), kMax);

    const QString more = PathOf("more.json");
    WriteAll(more, R"({"kind": "items", "version": 1, "rows": [{"name": "more", "hex": ")" +
                       QByteArray(200, 'e').toHex() + R"("}]})");
    const struct
    {
        const char* change;
        std::function<void()> make;
    } changes[] = {
        {"duplicate", [&] { w.panel->m_btnDuplicate->click(); }},
        {"edit",
         [&] {
             w.next = {"row", QByteArray(300, 'y')};
             w.panel->m_btnEdit->click();
         }},
        {"import",
         [&] {
             files.Choose(more);
             w.panel->m_btnImport->click();
         }},
    };
    for (const auto& c : changes) {
        SCOPED_TRACE(c.change);
        boxes.shown.clear();
        w.panel->SelectRow(0);
        c.make();
        EXPECT_EQ(1u, boxes.shown.size());
        EXPECT_EQ(rows, w.model->Count());
        EXPECT_EQ(QByteArray(100, 'x'), w.model->At(0).bytes);
        EXPECT_TRUE(saved == ReadAll(path));
    }
    boxes.shown.clear();
    Window again(path, kMax);
    EXPECT_EQ(rows, again.model->Count());
    EXPECT_TRUE(boxes.shown.empty());
}

TEST_F(ListPanel, DuplicateSaysWhyWhenTheCopyCannotBeMade)
{
    Window w(PathOf("items.json"));
    w.next = {"unreadable", "\x01"};
    w.panel->m_btnAdd->click();
    w.panel->m_btnDuplicate->click();
    EXPECT_EQ(1, w.model->Count());
    ASSERT_EQ(1u, boxes.shown.size());
    EXPECT_EQ("Row 1 could not be duplicated: its copy does not read back as a valid entry.",
              boxes.LastText());
}

} // namespace
