// The disclaimer dialog: its controls by system language, the documents it
// shows, the acceptance check box, the exit confirmation, and start-up with the
// real dialog in front of the main one.
#include "app/korvo_app.h"
#include "disclaimer_documents.h"
#include "platform/dialog.h"
#include "platform/language.h"
#include "platform/profile.h"
#include "platform/strings.h"
#include "resource.h"
#include "support/message_boxes.h"
#include "support/wait.h"
#include "ui/agreement_dlg.h"
#include "ui/rich_edit_ctrl.h"

#include <gtest/gtest.h>

#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QPushButton>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextDocument>
#include <QElapsedTimer>
#include <QTest>
#include <QTimer>

#include <cstdlib>
#include <functional>
#include <memory>

namespace {

using korvo::test::MessageBoxes;
using korvo::test::WaitUntil;

int LineCount(const char* const* table)
{
    int n = 0;
    while (table[n])
        ++n;
    return n;
}

// The system (and user-interface) language for one test; the program reads it
// the way start-up does.
class SystemLanguage
{
public:
    explicit SystemLanguage(const char* locale)
    {
        setenv("LC_ALL", locale, 1);
        setenv("LANG", locale, 1);
        ReloadStringLanguageFromEnvironment();
        theApp.m_byLanguage = static_cast<std::uint8_t>(SystemDefaultLangId() & 0xFF);
    }
    ~SystemLanguage()
    {
        unsetenv("LC_ALL");
        setenv("LANG", "C.UTF-8", 1);
        ReloadStringLanguageFromEnvironment();
        theApp.m_byLanguage = 0;
    }
};

QString FirstParagraph(const CAgreementDlg& dlg)
{
    return dlg.m_richText->document()->firstBlock().text();
}

QCheckBox* CheckBox(const CAgreementDlg& dlg)
{
    return dlg.Item<QCheckBox>(IDC_CHECK_ACCEPT);
}

QPushButton* Button(const CAgreementDlg& dlg, int id)
{
    return dlg.Item<QPushButton>(id);
}

struct LanguageCase
{
    const char* locale;
    QStringList items;
    QString initialHeading;
    int lastItem;
};

TEST(AgreementDlg, CombosAndFirstDocumentFollowTheSystemLanguage)
{
    const LanguageCase cases[] = {
        {"ko_KR.UTF-8", {"한국어", "영어", "프랑스어"}, "면책 고지", 2},
        {"en_US.UTF-8", {"English", "Franch"}, "DISCLAIMER OF LIABILITY", 1},
        {"fr_FR.UTF-8", {"English", "Franch"}, "DISCLAIMER OF LIABILITY", 1},
    };
    for (const LanguageCase& c : cases) {
        SystemLanguage language(c.locale);
        CAgreementDlg dlg;
        dlg.Create();
        dlg.show();
        QStringList items;
        for (int i = 0; i < dlg.m_comboLanguage->count(); ++i)
            items << dlg.m_comboLanguage->itemText(i);
        EXPECT_EQ(c.items, items) << c.locale;
        EXPECT_EQ(0, dlg.m_comboLanguage->currentIndex()) << c.locale;
        EXPECT_EQ(c.initialHeading, FirstParagraph(dlg)) << c.locale;
        EXPECT_EQ(LineCount(std::string(c.locale) == "ko_KR.UTF-8" ? g_rtfKorean : g_rtfEnglish), g_nRtfLine);

        // The last item is French on both kinds of system.
        dlg.m_comboLanguage->setCurrentIndex(c.lastItem);
        dlg.SendCommand(IDC_COMBO_LANGUAGE, CBN_SELCHANGE);
        EXPECT_EQ(QStringLiteral("AVIS DE NON-RESPONSABILITÉ"), FirstParagraph(dlg)) << c.locale;
        EXPECT_EQ(LineCount(g_rtfFrench), g_nRtfLine) << c.locale;
    }
}

TEST(AgreementDlg, CaptionsComeFromTheStringTable)
{
    SystemLanguage language("ko_KR.UTF-8");
    CAgreementDlg dlg;
    dlg.Create();
    EXPECT_EQ(LoadStr(104), dlg.windowTitle());
    EXPECT_EQ(LoadStr(104), dlg.m_strTitle);
    EXPECT_EQ(QStringLiteral("면책 고지 사항에 명시된 약관에 동의 합니다."),
              dlg.GetDlgItemText(IDC_CHECK_ACCEPT));
    EXPECT_EQ(QStringLiteral("확인"), dlg.GetDlgItemText(IDOK));
    EXPECT_EQ(QStringLiteral("취소"), dlg.GetDlgItemText(IDCANCEL));
    EXPECT_EQ(QStringLiteral("언어"), dlg.GetDlgItemText(IDC_STATIC_LANGUAGE));
    // The dialog keeps its template font; the document is read-only.
    EXPECT_EQ(dlg.TemplateFont().family(), dlg.m_richText->font().family());
    EXPECT_TRUE(dlg.m_richText->isReadOnly());
}

TEST(AgreementDlg, OkFollowsEveryClickOfTheCheckBox)
{
    CAgreementDlg dlg;
    dlg.Create();
    dlg.show();
    EXPECT_FALSE(CheckBox(dlg)->isChecked());
    EXPECT_FALSE(Button(dlg, IDOK)->isEnabled());
    // Mended: a toggle from a screen reader or UI automation ticked the box
    // without telling the dialog, so OK stayed disabled.
    const auto accessible = [&](const QString& action) {
        QAccessibleInterface* ai = QAccessible::queryAccessibleInterface(CheckBox(dlg));
        ASSERT_TRUE(ai && ai->actionInterface());
        ai->actionInterface()->doAction(action);
    };
    const std::function<void()> means[] = {
        [&] { QTest::mouseClick(CheckBox(dlg), Qt::LeftButton); },
        [&] { QTest::keyClick(CheckBox(dlg), Qt::Key_Space); },
        [&] { accessible(QAccessibleActionInterface::toggleAction()); },
        [&] { accessible(QAccessibleActionInterface::pressAction()); },
    };
    for (int click = 1; click <= 8; ++click) {
        means[(click - 1) % 4]();
        EXPECT_EQ(click % 2 == 1, CheckBox(dlg)->isChecked()) << "click " << click;
        EXPECT_EQ(click % 2 == 1, Button(dlg, IDOK)->isEnabled()) << "click " << click;
    }
    // Changing the language leaves the box as it is.
    QTest::mouseClick(CheckBox(dlg), Qt::LeftButton);
    dlg.m_comboLanguage->setCurrentIndex(1);
    dlg.SendCommand(IDC_COMBO_LANGUAGE, CBN_SELCHANGE);
    EXPECT_TRUE(CheckBox(dlg)->isChecked());
    EXPECT_TRUE(Button(dlg, IDOK)->isEnabled());
}

TEST(AgreementDlg, SwitchingLanguageAfterScrollingShowsTheNewDocumentFromItsTop)
{
    CAgreementDlg dlg;
    dlg.Create();
    dlg.show();
    CRichEditCtrl* text = dlg.m_richText;
    QScrollBar* bar = text->verticalScrollBar();
    ASSERT_TRUE(WaitUntil([&] { return bar->maximum() > 0; }));

    text->LineScroll(5);
    EXPECT_EQ(5, text->GetFirstVisibleLine());
    text->LineScroll(-2);
    EXPECT_EQ(3, text->GetFirstVisibleLine());
    bar->setValue(bar->maximum());
    ASSERT_GT(text->GetFirstVisibleLine(), 5);

    // Through the keyboard, as a user picks the item.
    dlg.m_comboLanguage->setFocus();
    QTest::keyClick(dlg.m_comboLanguage, Qt::Key_Down);
    ASSERT_EQ(1, dlg.m_comboLanguage->currentIndex());
    EXPECT_EQ(QStringLiteral("AVIS DE NON-RESPONSABILITÉ"), FirstParagraph(dlg));
    EXPECT_EQ(0, bar->value());
    EXPECT_EQ(0, text->GetFirstVisibleLine());
    EXPECT_EQ(LineCount(g_rtfFrench), g_nRtfLine);
}

// Cancel, Escape and the close box all ask first; No leaves everything as it was.
TEST(AgreementDlg, DeclinedExitLeavesTheDialogAsItWas)
{
    MessageBoxes boxes(IDNO);
    CAgreementDlg dlg;
    dlg.Create();
    dlg.show();
    ASSERT_TRUE(WaitUntil([&] { return dlg.m_richText->verticalScrollBar()->maximum() > 0; }));
    QTest::mouseClick(CheckBox(dlg), Qt::LeftButton);
    dlg.m_comboLanguage->setCurrentIndex(1);
    dlg.SendCommand(IDC_COMBO_LANGUAGE, CBN_SELCHANGE);
    dlg.m_richText->LineScroll(4);
    const QString shown = dlg.m_richText->toPlainText();

    const std::function<void()> ways[] = {
        [&] { QTest::mouseClick(Button(dlg, IDCANCEL), Qt::LeftButton); },
        [&] { QTest::keyClick(&dlg, Qt::Key_Escape); },
        [&] { dlg.close(); },
    };
    for (const auto& way : ways) {
        way();
        ASSERT_FALSE(boxes.shown.empty());
        EXPECT_EQ(QStringLiteral("Do you want to exit program?"), boxes.shown.back().text);
        EXPECT_EQ(dlg.m_strTitle, boxes.shown.back().caption);
        EXPECT_EQ(unsigned(MB_YESNO | MB_ICONQUESTION), boxes.shown.back().type);
    }
    EXPECT_EQ(3u, boxes.shown.size());
    EXPECT_TRUE(dlg.isVisible());
    EXPECT_TRUE(CheckBox(dlg)->isChecked());
    EXPECT_TRUE(Button(dlg, IDOK)->isEnabled());
    EXPECT_EQ(1, dlg.m_comboLanguage->currentIndex());
    EXPECT_EQ(4, dlg.m_richText->GetFirstVisibleLine());
    EXPECT_EQ(shown, dlg.m_richText->toPlainText());
}

// Start-up with the real dialog run modally; the main dialog step is recorded
// instead of run.
class StartUpWithDisclaimer : public testing::Test
{
protected:
    void SetUp() override
    {
        theApp.m_steps = {};
        theApp.m_steps.runMainDialog = [this] {
            mainRuns++;
            storedWhenMainRan = Stored();
        };
    }
    void TearDown() override { theApp.m_steps = {}; }

    static int Stored()
    {
        return Profile::GetProfileInt(QStringLiteral("SETTINGS"), QStringLiteral("AGREEMENT"), -1);
    }

    // Runs `act` on the dialog once it is shown; a dialog still open a few
    // seconds later is ended with -1 so that a fault fails instead of hanging.
    static void WhenShown(std::function<void(CAgreementDlg&)> act)
    {
        auto* timer = new QTimer;
        timer->setInterval(5);
        auto started = std::make_shared<QElapsedTimer>();
        started->start();
        QObject::connect(timer, &QTimer::timeout, [timer, act, started] {
            for (QWidget* w : QApplication::topLevelWidgets()) {
                auto* dlg = qobject_cast<CAgreementDlg*>(w);
                if (dlg && dlg->isVisible()) {
                    timer->stop();
                    timer->deleteLater();
                    act(*dlg);
                    if (dlg->isVisible()) {
                        QTimer::singleShot(3000, dlg, [dlg] {
                            if (dlg->isVisible())
                                dlg->done(-1);
                        });
                    }
                    return;
                }
            }
            if (started->elapsed() > 5000) {
                timer->stop();
                timer->deleteLater();
            }
        });
        timer->start();
    }

    int mainRuns = 0;
    int storedWhenMainRan = -2;
};

TEST_F(StartUpWithDisclaimer, AcceptingStoresOneAndOpensTheMainDialogInTheSameRun)
{
    MessageBoxes boxes;
    WhenShown([](CAgreementDlg& dlg) {
        QTest::mouseClick(dlg.Item<QPushButton>(IDOK), Qt::LeftButton); // disabled: nothing happens
        EXPECT_TRUE(dlg.isVisible());
        QTest::mouseClick(CheckBox(dlg), Qt::LeftButton);
        QTest::mouseClick(dlg.Item<QPushButton>(IDOK), Qt::LeftButton);
    });
    EXPECT_FALSE(theApp.InitInstance());
    EXPECT_EQ(1, mainRuns);
    EXPECT_EQ(1, storedWhenMainRan);
    EXPECT_EQ(1, Stored());
    EXPECT_TRUE(boxes.shown.empty());

    // The next start goes straight to the main dialog.
    EXPECT_FALSE(theApp.InitInstance());
    EXPECT_EQ(2, mainRuns);
}

TEST_F(StartUpWithDisclaimer, ConfirmedExitStoresNothing)
{
    const std::function<void(CAgreementDlg&)> ways[] = {
        [](CAgreementDlg& dlg) { QTest::mouseClick(dlg.Item<QPushButton>(IDCANCEL), Qt::LeftButton); },
        [](CAgreementDlg& dlg) { QTest::keyClick(&dlg, Qt::Key_Escape); },
        [](CAgreementDlg& dlg) { dlg.close(); },
    };
    for (const auto& way : ways) {
        MessageBoxes boxes(IDYES);
        WhenShown([&way](CAgreementDlg& dlg) {
            QTest::mouseClick(CheckBox(dlg), Qt::LeftButton); // ticked, but left without OK
            way(dlg);
        });
        EXPECT_FALSE(theApp.InitInstance());
        ASSERT_EQ(1u, boxes.shown.size());
        EXPECT_EQ(QStringLiteral("Do you want to exit program?"), boxes.LastText());
    }
    EXPECT_EQ(0, mainRuns);
    EXPECT_EQ(-1, Stored());
}

TEST_F(StartUpWithDisclaimer, DeclinedExitKeepsTheDialogUntilAccepted)
{
    MessageBoxes boxes;
    boxes.answers = {IDNO};
    bool stayed = false;
    WhenShown([&stayed](CAgreementDlg& dlg) {
        QTest::mouseClick(CheckBox(dlg), Qt::LeftButton);
        QTest::mouseClick(dlg.Item<QPushButton>(IDCANCEL), Qt::LeftButton);
        stayed = dlg.isVisible() && CheckBox(dlg)->isChecked() && dlg.Item<QPushButton>(IDOK)->isEnabled();
        QTest::mouseClick(dlg.Item<QPushButton>(IDOK), Qt::LeftButton);
    });
    EXPECT_FALSE(theApp.InitInstance());
    EXPECT_TRUE(stayed);
    EXPECT_EQ(1u, boxes.shown.size());
    EXPECT_EQ(1, mainRuns);
    EXPECT_EQ(1, Stored());
}

} // namespace
