// The Automatic Replies window on the real main dialog: its rules file,
// its edit dialog, its switches from the keyboard and assistive tools, and
// what it shows of a runaway rule.
#include "network/net_helpers.h"
#include "network/session_fixture.h"
#include "widgets/replies_window.h"

#include "support/file_dialogs.h"

#include <QAbstractSpinBox>
#include <QAccessible>
#include <QDir>
#include <QFileInfo>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLabel>
#include <QTableView>
#include <QTest>

#include <vector>

using namespace korvo::test;

namespace {

QString RulesPath()
{
    return CListFile::BesideProfile(QStringLiteral("replies.json"));
}

void WriteAll(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

QByteArray ReadAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

QString Cell(const CRepliesDlg& w, int row, int column)
{
    return w.m_model->data(w.m_model->index(row, column), Qt::DisplayRole).toString();
}

class RepliesWindow : public SessionTest
{
protected:
    CRepliesDlg& Open() { return OpenReplies(*dlg); }
    FileDialogs files;
};

TEST_F(RepliesWindow, RulesKeepTheirFieldsInTheirFileAndRepliesStartOffEveryTime)
{
    {
        CRepliesDlg& w = Open();
        EXPECT_FALSE(w.m_checkAuto->isChecked());
        AddRule(w, {"ping", 0, "PING", "PONG\\r\\n", 0});
        AddRule(w, {"frame", 1, "\\x02\\x10", "\\x06", 250});
        w.m_checkAuto->click();
        w.m_panel->SelectRow(1);
        w.m_checkEnabled->click();
        EXPECT_EQ("PONG\r\n", w.m_model->At(0).reply.Literal());
        EXPECT_EQ(QStringList({"", "ping", "contains", "50 49 4E 47", "50 4F 4E 47 0D 0A", "0", "0"}),
                  QStringList({Cell(w, 0, 0), Cell(w, 0, 1), Cell(w, 0, 2), Cell(w, 0, 3), Cell(w, 0, 4),
                               Cell(w, 0, 5), Cell(w, 0, 6)}));
    }
    const QJsonObject file = QJsonDocument::fromJson(ReadAll(RulesPath())).object();
    EXPECT_EQ("replies", file.value("kind").toString());
    EXPECT_EQ(1, file.value("version").toInt());
    EXPECT_EQ(QJsonObject({{"enabled", false},
                           {"name", "frame"},
                           {"when", "starts with"},
                           {"pattern", "02 10"},
                           {"reply", "06"},
                           {"delay", 250}}),
              file.value("rows").toArray().at(1).toObject());

    // As at the next start of the program.
    dlg = std::make_unique<CKorvoDlg>();
    ASSERT_TRUE(dlg->Create());
    CRepliesDlg& again = Open();
    EXPECT_FALSE(again.m_checkAuto->isChecked());
    ASSERT_EQ(2, again.m_model->Count());
    const ReplyRule& frame = again.m_model->At(1);
    EXPECT_TRUE(frame.enabled == false && frame.name == "frame" && frame.when == ReplyWhen::StartsWith &&
                frame.pattern == "\x02\x10" && frame.reply.Literal() == "\x06" && frame.delayMs == 250);

    // Import adds the rules of another file.
    const QString other = QDir::home().filePath("other.json");
    WriteAll(other, R"({"kind": "replies", "version": 1, "rows": [{"enabled": true, "name": "line",
        "when": "ends with", "pattern": "0d 0a", "reply": "3e", "delay": 0}]})");
    files.Choose(other);
    again.m_panel->m_btnImport->click();
    ASSERT_EQ(3, again.m_model->Count());
    EXPECT_EQ(ReplyWhen::EndsWith, again.m_model->At(2).when);
    EXPECT_TRUE(boxes.shown.empty());
}

TEST_F(RepliesWindow, ARuleTheProgramCannotUseMakesTheFileBad)
{
    const QByteArray rule =
        R"({"enabled": true, "name": "n", "when": "contains", "pattern": "41", "reply": "42", "delay": 0})";
    const struct
    {
        const char* why;
        const char* from;
        const char* to;
    } cases[] = {
        {"an unknown When", R"("contains")", R"("sounds like")"},
        {"an empty pattern", R"("pattern": "41")", R"("pattern": "")"},
        {"a pattern that is no hex", R"("pattern": "41")", R"("pattern": "4G")"},
        {"an empty reply", R"("reply": "42")", R"("reply": "")"},
        {"a negative delay", R"("delay": 0)", R"("delay": -1)"},
        {"a delay with a fraction", R"("delay": 0)", R"("delay": 1.5)"},
        {"no name", R"("name": "n",)", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        QByteArray bad = rule;
        bad.replace(c.from, c.to);
        ASSERT_NE(rule, bad);
        WriteAll(RulesPath(), R"({"kind": "replies", "version": 1, "rows": [)" + rule + "," + bad + "]}");
        boxes.shown.clear();
        dlg = std::make_unique<CKorvoDlg>();
        ASSERT_TRUE(dlg->Create());
        CRepliesDlg& w = Open();
        EXPECT_EQ(0, w.m_model->Count());
        ASSERT_EQ(1u, boxes.shown.size());
        EXPECT_TRUE(boxes.shown[0].text.contains("entry 2 is not valid"))
            << boxes.shown[0].text.toStdString();
        EXPECT_FALSE(QFile::exists(RulesPath()));
        QFile::remove(RulesPath() + ".bad");
    }
}

// Datagrams longer than 4,096 bytes are not received, so a longer pattern
// can match over TCP only: the edit dialog says so while it is that long.
TEST_F(RepliesWindow, TheEditDialogSaysWhenAPatternIsTooLongForUdp)
{
    CRepliesDlg& w = Open();
    std::vector<QString> notes;
    QTimer::singleShot(0, [&] {
        auto* entry = qobject_cast<CByteEntryDlg*>(QApplication::activeModalWidget());
        ASSERT_NE(nullptr, entry);
        CByteField* pattern = entry->findChildren<CByteField*>()[0];
        const auto note = [&] {
            for (QLabel* label : entry->findChildren<QLabel*>()) {
                if (label->isVisible() && label->text().contains("UDP"))
                    return label->text();
            }
            return QString();
        };
        for (const int length : {4096, 4097, 1}) {
            pattern->SetBytes(QByteArray(length, 'p'));
            notes.push_back(note());
        }
        entry->reject();
    });
    w.m_panel->m_btnAdd->click();
    ASSERT_EQ(3u, notes.size());
    EXPECT_EQ("", notes[0]);
    EXPECT_EQ("Over UDP this pattern never matches: Korvo receives datagrams of at most 4,096 bytes.",
              notes[1]);
    EXPECT_EQ("", notes[2]);
}

TEST_F(RepliesWindow, RulesTickFromTheKeyboardAndFromAssistiveTools)
{
    CRepliesDlg& w = Open();
    AddRule(w, {"a", 0, "A", "B", 0});
    AddRule(w, {"b", 0, "C", "D", 0});
    QTableView* table = w.m_panel->m_table;
    table->setFocus();
    // Space ticks the selected rule whichever of its cells is current.
    table->setCurrentIndex(w.m_model->index(1, REPLY_COL_PATTERN));
    QTest::keyClick(table, Qt::Key_Space);
    EXPECT_FALSE(w.m_model->At(1).enabled);
    EXPECT_FALSE(w.m_checkEnabled->isChecked());
    QTest::keyClick(table, Qt::Key_Space);
    EXPECT_TRUE(w.m_model->At(1).enabled);

    // The selected rule's check box, as a screen reader works it.
    QAccessibleInterface* box = QAccessible::queryAccessibleInterface(w.m_checkEnabled);
    ASSERT_NE(nullptr, box);
    EXPECT_EQ(QAccessible::CheckBox, box->role());
    EXPECT_EQ("Enabled", box->text(QAccessible::Name));
    box->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
    EXPECT_TRUE(WaitUntil([&] { return !w.m_model->At(1).enabled; }));
    EXPECT_TRUE(w.m_model->At(0).enabled);
    const QJsonArray rows = QJsonDocument::fromJson(ReadAll(RulesPath())).object().value("rows").toArray();
    EXPECT_FALSE(rows.at(1).toObject().value("enabled").toBool());
    // The table's cell says what the box says.
    QAccessibleInterface* cell =
        QAccessible::queryAccessibleInterface(table)->tableInterface()->cellAt(1, REPLY_COL_ENABLED);
    EXPECT_TRUE(cell->state().checkable && !cell->state().checked);

    // The edit dialog's When reads as its label, with the chosen item as its value.
    QString whenName, whenValue;
    QTimer::singleShot(0, [&] {
        auto* entry = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(nullptr, entry);
        QAccessibleInterface* a = QAccessible::queryAccessibleInterface(entry->findChild<QComboBox*>());
        whenName = a->text(QAccessible::Name);
        whenValue = a->text(QAccessible::Value);
        entry->reject();
    });
    w.m_panel->m_btnAdd->click();
    EXPECT_EQ("When", whenName);
    EXPECT_EQ("contains", whenValue);

    // Every control can be reached by its name (a spin box's entry is the spin box).
    for (QWidget* control : w.findChildren<QWidget*>()) {
        if (control->focusPolicy() == Qt::NoFocus || !control->isVisibleTo(&w) ||
            qobject_cast<QAbstractSpinBox*>(control->parentWidget()))
            continue;
        QAccessibleInterface* a = QAccessible::queryAccessibleInterface(control);
        EXPECT_FALSE(a->text(QAccessible::Name).isEmpty()) << control->metaObject()->className();
    }
}

TEST_F(RepliesWindow, ARunawayRuleIsPausedMarkedToldOnceAndLetGoByTickingIt)
{
    CRepliesDlg& w = Open();
    AddRule(w, {"echo", 0, "X", "Y", 0});
    w.m_checkAuto->click();
    Fd listener = Listener();
    SetFields(QStringLiteral("127.0.0.1"), LocalPort(listener.get()), 1470);
    Click(IDC_BUTTON_CONNECT);
    ASSERT_TRUE(WaitStatus(QStringLiteral("Connected")));
    Fd peer(::accept(listener.get(), nullptr, nullptr));

    // Three thousand matches at once: the first two thousand fire.
    const std::string flood(3000, 'X');
    ASSERT_EQ(ssize_t(flood.size()), ::send(peer.get(), flood.data(), flood.size(), 0));
    ASSERT_TRUE(WaitUntil([&] { return !boxes.shown.empty() && dlg->m_nRecvTotal == 3000; }));
    DrainEvents();
    ASSERT_EQ(1u, boxes.shown.size());
    EXPECT_TRUE(boxes.shown[0].text.contains("\"echo\"")) << boxes.shown[0].text.toStdString();
    EXPECT_TRUE(WaitUntil([&] { return Cell(w, 0, REPLY_COL_MATCHED) == "2000 (paused)"; }));
    std::string replies;
    EXPECT_TRUE(WaitUntil([&] {
        ReadSome(peer.get(), &replies);
        return replies.size() == 2000;
    }));

    w.m_panel->SelectRow(0);
    w.m_checkEnabled->click();
    w.m_checkEnabled->click();
    EXPECT_TRUE(WaitUntil([&] { return Cell(w, 0, REPLY_COL_MATCHED) == "2000"; }));
    ::send(peer.get(), "X", 1, 0);
    EXPECT_TRUE(WaitUntil([&] {
        ReadSome(peer.get(), &replies);
        return replies.size() == 2001;
    }));
    EXPECT_EQ(1u, boxes.shown.size());
}

} // namespace
