// The panes as a user meets them: real widgets driven with QTest keys,
// clicks, the wheel and the scroll bar, inside the main dialog and alone.
#include "panes/hex_edit.h"
#include "platform/fonts.h"
#include "support/file_dialogs.h"
#include "support/wait.h"
#include "ui/korvo_dlg.h"
#include "unit/hex_pane_helpers.h"

#include <gtest/gtest.h>

#include <QAccessible>
#include <QApplication>
#include <QFile>
#include <QKeyEvent>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <QWheelEvent>

#include <functional>
#include <memory>

using namespace korvo::test;

namespace {

const QByteArray kAlnum = "1234567890ABCDEFGHIJKLMNOPQRSTUVWXYZ";

std::vector<std::uint8_t> PaneBytes(const CHexEdit& pane)
{
    return {pane.m_pData, pane.m_pData + pane.m_nLength};
}

// A pane alone in a window, shown and focused, holding `bytes`.
class LonePane
{
public:
    explicit LonePane(const std::vector<std::uint8_t>& bytes)
    {
        pane.setFont(CreateDefaultFont());
        pane.resize(700, 160);
        pane.show();
        pane.activateWindow();
        pane.setFocus();
        exposed = QTest::qWaitForWindowExposed(&pane);
        pane.InitView();
        pane.SetData(static_cast<int>(bytes.size()), bytes.data());
    }

    // The middle of the character cell at a text position.
    QPoint At(int pos) const
    {
        const QPoint left = pane.PointAt(pos);
        const QPoint right = pane.PointAt(pos + 1);
        return {(left.x() + right.x()) / 2, left.y() + pane.m_nLineHeight / 2};
    }
    void Click(int pos) { QTest::mouseClick(pane.viewport(), Qt::LeftButton, {}, At(pos)); }

    CHexEdit pane;
    bool exposed = false;
};

TEST(HexEditWidget, ClicksSnapAndKeysEdit)
{
    LonePane w(std::vector<std::uint8_t>(36, 0x12));
    ASSERT_TRUE(w.exposed);
    ASSERT_GE(w.pane.m_nLinesPerPage, 3);

    w.Click(Pos(0, 3)); // the offset column
    EXPECT_EQ(Pos(0, 10), w.pane.GetCaret());
    QTest::keyClicks(&w.pane, "A5");
    EXPECT_EQ(0xA5, w.pane.m_pData[0]);
    EXPECT_EQ(Pos(0, 13), w.pane.GetCaret());
    EXPECT_TRUE(w.pane.RenderedText().startsWith("00000000| a5 12"));

    w.Click(Pos(0, 34)); // the group separator
    EXPECT_EQ(Pos(0, 35), w.pane.GetCaret());
    QTest::keyClick(&w.pane, Qt::Key_Left);
    EXPECT_EQ(Pos(0, 32), w.pane.GetCaret());
    QTest::keyClick(&w.pane, Qt::Key_Tab);
    EXPECT_EQ(Pos(0, 67), w.pane.GetCaret());
    QTest::keyClicks(&w.pane, "Hi");
    EXPECT_EQ('H', w.pane.m_pData[7]);
    EXPECT_EQ('i', w.pane.m_pData[8]);
    QTest::keyClick(&w.pane, Qt::Key_Backspace);
    EXPECT_EQ(Pos(0, 68), w.pane.GetCaret());
    EXPECT_EQ('i', w.pane.m_pData[8]);

    w.Click(Pos(2, 70)); // the empty part of the last line
    EXPECT_EQ(Pos(2, 63), w.pane.GetCaret());
    EXPECT_EQ(36, w.pane.m_nLength);
}

TEST(HexEditWidget, KeysThatDoNothing)
{
    LonePane w(Counting(64));
    ASSERT_TRUE(w.exposed);
    w.Click(Pos(1, 13));
    const int caret = w.pane.GetCaret();
    const auto before = PaneBytes(w.pane);
    struct
    {
        Qt::Key key;
        Qt::KeyboardModifiers mods;
    } keys[] = {
        {Qt::Key_Left, Qt::KeypadModifier},
        {Qt::Key_Right, Qt::KeypadModifier},
        {Qt::Key_Up, Qt::KeypadModifier},
        {Qt::Key_Down, Qt::KeypadModifier},
        {Qt::Key_Home, {}},
        {Qt::Key_End, {}},
        {Qt::Key_Delete, {}},
        {Qt::Key_Insert, {}},
        {Qt::Key_Return, {}},
        {Qt::Key_Enter, Qt::KeypadModifier},
    };
    for (const auto& k : keys) {
        QTest::keyClick(&w.pane, k.key, k.mods);
        EXPECT_EQ(caret, w.pane.GetCaret()) << k.key;
    }
    EXPECT_EQ(before, PaneBytes(w.pane));
}

TEST(HexEditWidget, EnterStaysInThePane)
{
    // An accepted key press goes no further, so the dialog's default button
    // never sees it.
    LonePane w(Counting(16));
    ASSERT_TRUE(w.exposed);
    for (Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Tab}) {
        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
        QApplication::sendEvent(&w.pane, &press);
        EXPECT_TRUE(press.isAccepted()) << key;
    }
    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(&w.pane, &escape);
    EXPECT_FALSE(escape.isAccepted());
}

TEST(HexEditWidget, ScrollBarWheelAndKeys)
{
    LonePane w(Counting(1600));
    ASSERT_TRUE(w.exposed);
    const int page = w.pane.m_nLinesPerPage;
    QScrollBar* bar = w.pane.verticalScrollBar();
    EXPECT_TRUE(bar->isEnabled());
    EXPECT_TRUE(bar->isVisible());
    EXPECT_EQ(100 - page, bar->maximum());

    bar->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    EXPECT_EQ(1, w.pane.m_nTopLine);
    bar->triggerAction(QAbstractSlider::SliderPageStepAdd);
    EXPECT_EQ(1 + page, w.pane.m_nTopLine);
    EXPECT_EQ(1 + page, bar->value());
    bar->triggerAction(QAbstractSlider::SliderToMaximum);
    EXPECT_EQ(99, w.pane.m_nTopLine);
    EXPECT_EQ(1, w.pane.Surface().Rows());
    // One line up brings the line just above into view.
    bar->triggerAction(QAbstractSlider::SliderSingleStepSub);
    EXPECT_TRUE(w.pane.RenderedText().startsWith("00000620| "))
        << w.pane.RenderedText().left(10).toStdString();
    bar->triggerAction(QAbstractSlider::SliderToMinimum);
    EXPECT_EQ(0, w.pane.m_nTopLine);

    const QPoint centre = w.pane.viewport()->rect().center();
    QWheelEvent down(centre, w.pane.viewport()->mapToGlobal(centre), {}, {0, -120}, Qt::NoButton, {},
                     Qt::NoScrollPhase, false);
    QApplication::sendEvent(w.pane.viewport(), &down);
    EXPECT_EQ(QApplication::wheelScrollLines(), w.pane.m_nTopLine);

    w.Click(Pos(0, 10));
    QTest::keyClick(&w.pane, Qt::Key_PageDown);
    EXPECT_EQ(QApplication::wheelScrollLines() + page, w.pane.m_nTopLine);
    EXPECT_EQ(Pos(0, 10), w.pane.GetCaret());
    EXPECT_EQ(ExpectedText(w.pane), SurfaceText(w.pane));
}

TEST(HexEditWidget, AFittingPageShowsADisabledBar)
{
    LonePane w(Counting(36));
    ASSERT_TRUE(w.exposed);
    EXPECT_TRUE(w.pane.verticalScrollBar()->isVisible());
    EXPECT_FALSE(w.pane.verticalScrollBar()->isEnabled());
}

// Mended: the row was drawn as one string, and a font that gives 0x7F no
// width drew every character after it one cell to the left of the cell that
// clicks and the caret use.
TEST(HexEditWidget, EveryCharacterIsDrawnInItsOwnCell)
{
    std::vector<std::uint8_t> row = Bytes(".ABCDEFGHIJKLMNO");
    LonePane dot(row);
    row[0] = 0x7F;
    LonePane del(row);
    ASSERT_TRUE(dot.exposed && del.exposed);
    EXPECT_EQ(QChar(0x7F), del.pane.RenderedText()[60]);
    // The cells of "ABCDEFGHIJKLMNO" look the same after "." as after 0x7F.
    const QRect cells(QPoint(dot.pane.PointAt(Pos(0, 61)).x(), 0),
                      QPoint(dot.pane.PointAt(Pos(0, 76)).x() - 1, dot.pane.m_nLineHeight - 1));
    const QImage expected = dot.pane.viewport()->grab(cells).toImage();
    QImage blank(expected.size(), expected.format());
    blank.fill(expected.pixel(0, 0));
    ASSERT_NE(blank, expected);
    EXPECT_EQ(expected, del.pane.viewport()->grab(cells).toImage());
}

class HexPanesInDialog : public testing::Test
{
protected:
    void SetUp() override
    {
        dlg = std::make_unique<CKorvoDlg>();
        dlg->Create();
        dlg->show();
        dlg->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(dlg.get()));
    }
    std::unique_ptr<CKorvoDlg> dlg;
};

TEST_F(HexPanesInDialog, PanesStartWithTheirContent)
{
    EXPECT_EQ(std::vector<std::uint8_t>(kAlnum.begin(), kAlnum.end()), PaneBytes(*dlg->m_hexSend));
    EXPECT_EQ(3, dlg->m_hexSend->Surface().Rows());
    EXPECT_TRUE(dlg->m_hexSend->RenderedText().startsWith("00000000| 31 32 33"));
    EXPECT_EQ(0, dlg->m_hexRecv->m_nLength);
    EXPECT_TRUE(dlg->m_hexRecv->RenderedText().isEmpty());
    // The panes measured the display font the dialog gave them.
    EXPECT_EQ(QFontMetrics(dlg->m_hexSend->font()).lineSpacing(), dlg->m_hexSend->m_nLineHeight);
    EXPECT_GE(dlg->m_hexSend->m_nLinesPerPage, 5);
}

TEST_F(HexPanesInDialog, ReceivePaneKeepsTheFocusWithoutACaret)
{
    const auto bytes = Counting(40);
    dlg->m_hexRecv->AppendData(40, bytes.data());
    dlg->m_hexRecv->setFocus(Qt::MouseFocusReason);
    ASSERT_TRUE(WaitUntil([&] { return dlg->m_hexRecv->hasFocus(); }));
    EXPECT_FALSE(dlg->m_hexRecv->IsCaretShown());

    // Keys still edit it: the first brings the caret onto the last byte's
    // character, the next ones type there and walk back.
    QTest::keyClick(dlg->m_hexRecv, Qt::Key_Left);
    QTest::keyClicks(dlg->m_hexRecv, "Q");
    EXPECT_EQ('Q', dlg->m_hexRecv->m_pData[38]);
    EXPECT_EQ(40, dlg->m_hexRecv->m_nLength);
    EXPECT_TRUE(dlg->m_hexRecv->hasFocus());

    dlg->m_hexSend->setFocus(Qt::MouseFocusReason);
    ASSERT_TRUE(WaitUntil([&] { return dlg->m_hexSend->hasFocus(); }));
    EXPECT_TRUE(dlg->m_hexSend->IsCaretShown());
}

// Mended: after a render the first key used to snap the caret onto the stop
// of the partly shown row below the page, which stands for the first byte of
// a line that is not rendered, and the next key edited that unseen byte.
TEST_F(HexPanesInDialog, FirstKeysAfterLoadOrApplyEditAByteOnScreen)
{
    QTemporaryDir dir;
    const QString file = dir.filePath("long.bin");
    {
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(QByteArray(2000, 'x'));
    }
    FileDialogs files;
    const std::function<void()> commands[] = {
        [&] {
            dlg->SetDlgItemText(IDC_EDIT_DATA_LENGTH, "2000");
            dlg->SendCommand(IDC_BUTTON_RESIZE);
        },
        [&] {
            files.Choose(file);
            dlg->SendCommand(IDC_BUTTON_LOAD);
        },
    };
    CHexEdit* pane = dlg->m_hexSend;
    for (const auto& command : commands) {
        command();
        ASSERT_EQ(2000, pane->m_nLength);
        const int page = pane->m_nLinesPerPage;
        ASSERT_LT(page, pane->Surface().Rows()); // a row below the page is shown in part
        auto expected = PaneBytes(*pane);
        expected[static_cast<std::size_t>(page * 16 - 1)] = 'R';
        QTest::keyClicks(pane, "QR");
        EXPECT_EQ(expected, PaneBytes(*pane));
        EXPECT_EQ('R', pane->Surface().Row(page - 1)[75]);
    }
}

TEST_F(HexPanesInDialog, PanesReadAsNamedReadOnlyText)
{
    struct
    {
        CHexEdit* pane;
        const char* name;
    } panes[] = {{dlg->m_hexSend, "Send Data"}, {dlg->m_hexRecv, "Receive Data"}};
    for (const auto& p : panes) {
        QAccessibleInterface* ai = QAccessible::queryAccessibleInterface(p.pane);
        ASSERT_NE(nullptr, ai);
        EXPECT_EQ(QAccessible::EditableText, ai->role());
        EXPECT_EQ(QString(p.name), ai->text(QAccessible::Name));
        EXPECT_TRUE(ai->state().readOnly);
        QAccessibleTextInterface* text = ai->textInterface();
        ASSERT_NE(nullptr, text);
        EXPECT_EQ(p.pane->RenderedText(), text->text(0, text->characterCount()));
    }
}

} // namespace
