// The start-up gate: sockets, the stored acceptance value and the disclaimer
// decide whether the main window opens.
#include "app/korvo_app.h"
#include "platform/profile.h"
#include "support/message_boxes.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>

#include <optional>

namespace {

struct StartUpRun {
    int agreementShown = 0;
    int mainDialogRuns = 0;
    std::vector<MessageBoxRequest> messages;
    int storedAfter = 0;
};

// Runs start-up with the given outside answers; `stored` is written first
// (nullopt: no profile at all).
StartUpRun StartUp(bool socketsOk, std::optional<QString> stored, int agreementResult)
{
    Profile::SetRegistryKey(QString::fromLatin1(CKorvoApp::kRegistryKey));
    if (stored) {
        QSettings s(QSettings::NativeFormat, QSettings::UserScope, CKorvoApp::kRegistryKey,
                    QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName());
        s.setValue("SETTINGS/AGREEMENT", *stored);
        s.sync();
    }
    StartUpRun run;
    korvo::test::MessageBoxes boxes;
    CKorvoApp app;
    app.m_steps.initSockets = [&] { return socketsOk; };
    app.m_steps.runAgreement = [&] {
        ++run.agreementShown;
        return agreementResult;
    };
    app.m_steps.runMainDialog = [&] { ++run.mainDialogRuns; };
    EXPECT_FALSE(app.InitInstance()); // never an application message loop
    run.messages = boxes.shown;
    run.storedAfter = Profile::GetProfileInt("SETTINGS", "AGREEMENT", -99);
    return run;
}

} // namespace

TEST(StartUp, SocketFailureShowsMessage103AndEnds)
{
    const StartUpRun run = StartUp(false, QString("1"), IDOK);
    ASSERT_EQ(1u, run.messages.size());
    EXPECT_EQ("Windows sockets initialization failed.", run.messages[0].text);
    EXPECT_EQ(MB_OK, run.messages[0].type & MB_TYPEMASK);
    EXPECT_EQ(0, run.agreementShown);
    EXPECT_EQ(0, run.mainDialogRuns);
}

TEST(StartUp, DecisionTable)
{
    struct Case {
        const char* name;
        std::optional<QString> stored;
        int agreementResult;
        int agreementShown;
        int mainDialogRuns;
        int storedAfter; // -99: still absent
    } cases[] = {
        {"absent, accepted", std::nullopt, IDOK, 1, 1, 1},
        {"absent, declined", std::nullopt, IDCANCEL, 1, 0, -99},
        {"0, accepted", QString("0"), IDOK, 1, 1, 1},
        {"0, declined", QString("0"), IDCANCEL, 1, 0, 0},
        {"1", QString("1"), IDOK, 0, 1, 1},
        {"2 ends at once", QString("2"), IDOK, 0, 0, 2},
        {"-1 ends at once", QString("-1"), IDOK, 0, 0, -1},
        {"not a number reads as 0", QString("yes"), IDCANCEL, 1, 0, -99},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QFile::remove(Profile::FilePath());
        const StartUpRun run = StartUp(true, c.stored, c.agreementResult);
        EXPECT_EQ(c.agreementShown, run.agreementShown);
        EXPECT_EQ(c.mainDialogRuns, run.mainDialogRuns);
        EXPECT_TRUE(run.messages.empty()) << run.messages.front().text.toStdString();
        EXPECT_EQ(c.storedAfter, run.storedAfter);
    }
}

TEST(StartUp, UnreadableProfileActsAsNotAccepted)
{
    // A folder where the profile file should be cannot be read as a profile.
    Profile::SetRegistryKey(QString::fromLatin1(CKorvoApp::kRegistryKey));
    ASSERT_TRUE(QDir().mkpath(Profile::FilePath()));
    const StartUpRun run = StartUp(true, std::nullopt, IDCANCEL);
    EXPECT_EQ(1, run.agreementShown);
    EXPECT_EQ(0, run.mainDialogRuns);
}

TEST(StartUp, ProfileLivesUnderTheCompanyKeyAndExecutableName)
{
    Profile::SetRegistryKey(QString::fromLatin1(CKorvoApp::kRegistryKey));
    const QString path = Profile::FilePath();
    EXPECT_TRUE(path.endsWith("/MerrowSystems/" + QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName() +
                              ".conf"))
        << path.toStdString();
    ASSERT_TRUE(Profile::WriteProfileInt("SETTINGS", "AGREEMENT", 1));
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray ini = f.readAll();
    EXPECT_TRUE(ini.contains("[SETTINGS]")) << ini.constData();
    EXPECT_TRUE(ini.contains("AGREEMENT=1")) << ini.constData();
}
