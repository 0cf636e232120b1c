// SAVE, LOAD, CLEAR and Apply on the panes of the real main dialog, with real
// files in a temporary folder.
#include "network/net_helpers.h"
#include "panes/hex_edit.h"
#include "support/file_dialogs.h"
#include "support/message_boxes.h"
#include "ui/korvo_dlg.h"

#include <gtest/gtest.h>

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <sys/stat.h>

#include <functional>

using korvo::test::FileDialogs;
using korvo::test::MessageBoxes;

namespace {

const QByteArray kInitial = "1234567890ABCDEFGHIJKLMNOPQRSTUVWXYZ";
const QString kMessage102 = "The length of internal buffer is 1,048,576 bytes.";

class PaneFiles : public testing::Test {
protected:
    void SetUp() override
    {
        CKorvoDlg::ForgetLastFile();
        dlg.Create();
        ASSERT_TRUE(dir.isValid());
    }

    QString PathOf(const char* name) const { return dir.filePath(QString::fromLatin1(name)); }

    static QByteArray Bytes(const CHexEdit& pane)
    {
        return QByteArray(reinterpret_cast<const char*>(pane.m_pData), pane.m_nLength);
    }

    static QByteArray ReadFile(const QString& path)
    {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
    }

    static void WriteFile(const QString& path, const QByteArray& data)
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        ASSERT_EQ(data.size(), f.write(data));
    }

    void Apply(const char* length)
    {
        dlg.SetDlgItemText(IDC_EDIT_DATA_LENGTH, QString::fromLatin1(length));
        dlg.SendCommand(IDC_BUTTON_RESIZE);
    }

    CKorvoDlg dlg;
    QTemporaryDir dir;
    FileDialogs files;
    MessageBoxes boxes;
};

} // namespace

TEST_F(PaneFiles, SaveAndLoadRoundTripTheInitialPane)
{
    files.Choose(PathOf("initial.bin"));
    dlg.SendCommand(IDC_BUTTON_SAVE_SEND);
    EXPECT_EQ(kInitial, ReadFile(PathOf("initial.bin")));

    Apply("3");
    files.Choose(PathOf("initial.bin"));
    dlg.SendCommand(IDC_BUTTON_LOAD);
    EXPECT_EQ(kInitial, Bytes(*dlg.m_hexSend));
    EXPECT_EQ("36", dlg.GetDlgItemText(IDC_EDIT_DATA_LENGTH));
    EXPECT_TRUE(boxes.shown.empty());

    // The dialogs as set up: save form then open form, "bin", both filters, prompt.
    ASSERT_EQ(2u, files.asked.size());
    EXPECT_FALSE(files.asked[0].open);
    EXPECT_EQ("Save", files.asked[0].title);
    EXPECT_TRUE(files.asked[1].open);
    EXPECT_EQ("Load", files.asked[1].title);
    for (const FileDialogRequest& r : files.asked) {
        EXPECT_EQ("bin", r.defaultExtension);
        EXPECT_EQ(QStringList({"*.bin", "*.*"}), r.filters);
        EXPECT_TRUE(r.overwritePrompt);
    }
}

TEST_F(PaneFiles, RememberedPathAndFilterCarryOverBetweenCommands)
{
    EXPECT_EQ(QDir::homePath() + "/*.bin", CKorvoDlg::LastFilePath());
    // A cancelled dialog changes nothing.
    files.Cancel();
    dlg.SendCommand(IDC_BUTTON_LOAD);
    EXPECT_EQ(QDir::homePath() + "/*.bin", CKorvoDlg::LastFilePath());
    EXPECT_EQ(kInitial, Bytes(*dlg.m_hexSend));

    // A long path is kept whole.
    const QString deep = PathOf((QByteArray(200, 'd') + '/' + QByteArray(200, 'e')).constData());
    ASSERT_TRUE(QDir().mkpath(QFileInfo(deep).path()));
    files.Choose(deep, 2);
    dlg.m_hexRecv->AppendData(4, "abcd");
    dlg.SendCommand(IDC_BUTTON_SAVE_RECV);
    files.Cancel();
    dlg.SendCommand(IDC_BUTTON_LOAD);
    ASSERT_EQ(3u, files.asked.size());
    EXPECT_EQ(deep, files.asked[2].initialPath);
    EXPECT_EQ(2, files.asked[2].filterIndex);
}

TEST_F(PaneFiles, LoadEdgeCases)
{
    struct Case {
        const char* name;
        qsizetype size;
        bool readOnly;
        const char* expectedField;
        bool message102;
    } cases[] = {
        {"empty", 0, false, "0", false},
        {"exactly full", 1048576, false, "1048576", false},
        {"one byte too long", 1048577, false, "1048576", true},
        {"two million", 2000000, false, "1048576", true},
        {"read-only", 100, true, "100", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        boxes.shown.clear();
        QByteArray data(c.size, Qt::Uninitialized);
        for (qsizetype i = 0; i < c.size; ++i)
            data[i] = static_cast<char>((i * 7 + 3) & 0xFF);
        const QString path = PathOf(c.name);
        WriteFile(path, data);
        if (c.readOnly)
            ::chmod(QFile::encodeName(path).constData(), 0444);
        files.Choose(path);
        dlg.SendCommand(IDC_BUTTON_LOAD);
        EXPECT_EQ(c.expectedField, dlg.GetDlgItemText(IDC_EDIT_DATA_LENGTH));
        EXPECT_EQ(data.left(1048576), Bytes(*dlg.m_hexSend));
        ASSERT_EQ(c.message102 ? 1u : 0u, boxes.shown.size());
        if (c.message102) {
            EXPECT_EQ(kMessage102, boxes.shown[0].text);
            EXPECT_EQ(unsigned(MB_OK | MB_ICONEXCLAMATION), boxes.shown[0].type);
            EXPECT_EQ(dlg.m_strTitle, boxes.shown[0].caption);
        }
    }
}

TEST_F(PaneFiles, LoadFailuresLeaveThePaneAlone)
{
    files.Choose(PathOf("missing.bin"));
    dlg.SendCommand(IDC_BUTTON_LOAD);
    ASSERT_EQ(1u, boxes.shown.size());
    EXPECT_EQ("No such file or directory", boxes.shown[0].text);
    EXPECT_EQ(MB_ICONSTOP, boxes.shown[0].type & MB_ICONMASK);

    // A folder opens but cannot be read: the framework's file-error message.
    files.Choose(dir.path());
    dlg.SendCommand(IDC_BUTTON_LOAD);
    ASSERT_EQ(2u, boxes.shown.size());
    EXPECT_TRUE(boxes.shown[1].text.contains(dir.path())) << boxes.shown[1].text.toStdString();
    EXPECT_EQ(kInitial, Bytes(*dlg.m_hexSend));
    EXPECT_EQ("36", dlg.GetDlgItemText(IDC_EDIT_DATA_LENGTH));
}

TEST_F(PaneFiles, SaveFailures)
{
    // Nowhere to create the file.
    files.Choose(PathOf("no/such/folder/x.bin"));
    dlg.SendCommand(IDC_BUTTON_SAVE_SEND);
    ASSERT_EQ(1u, boxes.shown.size());
    EXPECT_EQ("File Open Error.", boxes.shown[0].text);
    EXPECT_EQ(MB_ICONEXCLAMATION, boxes.shown[0].type & MB_ICONMASK);

    // A device that is always full takes the open but not the bytes.
    files.Choose("/dev/full");
    dlg.SendCommand(IDC_BUTTON_SAVE_SEND);
    ASSERT_EQ(2u, boxes.shown.size());
    EXPECT_EQ("Disk full while accessing /dev/full.", boxes.shown[1].text);
}

TEST_F(PaneFiles, SaveOfAnEmptyPaneAsksNothing)
{
    dlg.SendCommand(IDC_BUTTON_SAVE_RECV);
    EXPECT_TRUE(files.asked.empty());
    EXPECT_TRUE(boxes.shown.empty());
}

TEST_F(PaneFiles, SaveOfAFullReceivePaneWritesTheNewestBytes)
{
    QByteArray stream(1048576 + 4096, Qt::Uninitialized);
    for (qsizetype i = 0; i < stream.size(); ++i)
        stream[i] = static_cast<char>((i / 16) & 0xFF);
    for (qsizetype at = 0; at < stream.size(); at += 4096)
        dlg.m_hexRecv->AppendData(4096, stream.constData() + at);
    files.Choose(PathOf("recv.bin"));
    dlg.SendCommand(IDC_BUTTON_SAVE_RECV);
    EXPECT_EQ(stream.right(1048576), ReadFile(PathOf("recv.bin")));
}

TEST_F(PaneFiles, ApplyTheDataLength)
{
    Apply("20");
    EXPECT_EQ(kInitial.left(20), Bytes(*dlg.m_hexSend));
    Apply("36");
    EXPECT_EQ(kInitial.left(20) + QByteArray(16, '\0'), Bytes(*dlg.m_hexSend));
    EXPECT_EQ("36", dlg.GetDlgItemText(IDC_EDIT_DATA_LENGTH));

    // 0 changes nothing, not even the field.
    Apply("0");
    EXPECT_EQ(36, dlg.m_hexSend->m_nLength);
    EXPECT_EQ("0", dlg.GetDlgItemText(IDC_EDIT_DATA_LENGTH));
    EXPECT_TRUE(boxes.shown.empty());

    Apply("5000000");
    ASSERT_EQ(1u, boxes.shown.size());
    EXPECT_EQ(kMessage102, boxes.shown[0].text);
    EXPECT_EQ(1048576, dlg.m_hexSend->m_nLength);
    EXPECT_EQ("1048576", dlg.GetDlgItemText(IDC_EDIT_DATA_LENGTH));

    // An invalid field: the framework's message, then the stored values return.
    Apply("12x");
    ASSERT_EQ(2u, boxes.shown.size());
    EXPECT_EQ("Enter a positive integer.", boxes.shown[1].text);
    EXPECT_EQ("1048576", dlg.GetDlgItemText(IDC_EDIT_DATA_LENGTH));
    EXPECT_EQ(1048576, dlg.m_hexSend->m_nLength);
}

TEST_F(PaneFiles, ClearEmptiesTheReceivePaneAndTheCounter)
{
    dlg.m_hexRecv->AppendData(5, "hello");
    dlg.m_nRecvTotal = 5;
    dlg.SetReceiveCount(5);
    dlg.SendCommand(IDC_BUTTON_CLEAR);
    EXPECT_EQ(0, dlg.m_hexRecv->m_nLength);
    EXPECT_EQ(0, dlg.m_nRecvTotal);
    EXPECT_EQ("0", dlg.GetDlgItemText(IDC_STATIC_RECV_COUNT));
    EXPECT_EQ(kInitial, Bytes(*dlg.m_hexSend));
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(0, dlg.m_hexRecv->m_pData[i]);
}

// Mended: the mode shadow used to lag the combo box, so the write-back of
// these commands blanked the mode and Listen dialled out as a client.
TEST_F(PaneFiles, PaneCommandsNeverChangeTheMode)
{
    using korvo::test::ConnectTo;
    using korvo::test::FreePort;
    const QString file = PathOf("three.bin");
    WriteFile(file, "abc");
    // Whatever a write-back puts in the fields points nowhere but here.
    dlg.m_strRemoteIP = "127.0.0.1";
    dlg.m_nRemotePort = FreePort();
    const struct
    {
        const char* name;
        std::function<void()> command;
    } commands[] = {
        {"clear", [&] { dlg.SendCommand(IDC_BUTTON_CLEAR); }},
        {"load",
         [&] {
             files.Choose(file);
             dlg.SendCommand(IDC_BUTTON_LOAD);
         }},
        {"refused apply", [&] { Apply("12x"); }},
    };
    for (const auto& c : commands) {
        SCOPED_TRACE(c.name);
        dlg.m_comboMode->setCurrentIndex(MODE_TCP_SERVER);
        emit dlg.m_comboMode->activated(MODE_TCP_SERVER);
        c.command();
        ASSERT_EQ(MODE_TCP_SERVER, dlg.m_comboMode->currentIndex());

        const unsigned short port = FreePort();
        dlg.SetDlgItemText(IDC_EDIT_LOCAL_PORT, QString::number(port));
        dlg.SendCommand(IDC_BUTTON_CONNECT);
        EXPECT_EQ(STATE_LISTENING, dlg.m_nState);
        EXPECT_GE(ConnectTo(AF_INET, port).get(), 0);
        dlg.SendCommand(IDC_BUTTON_CLOSE);
    }
}
