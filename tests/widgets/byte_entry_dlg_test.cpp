// The edit dialog of a list row: OK takes only good bytes and points at the
// fault; switching the form keeps what was typed.
#include "messages/byte_entry_dlg.h"

#include "support/message_boxes.h"

#include <gtest/gtest.h>

#include <QLabel>
#include <QPlainTextEdit>
#include <QRadioButton>

using korvo::test::MessageBoxes;

namespace {

TEST(ByteEntryDlg, OkTakesOnlyGoodBytesAndPointsAtTheFault)
{
    MessageBoxes boxes;
    CByteEntryDlg dialog("Message", nullptr);
    CByteField* field = dialog.AddByteField("&Data");
    dialog.show();

    const struct
    {
        const char* text;
        const char* told;
        int selectedFrom, selectedTo;
    } refused[] = {
        {"", "Enter at least one byte.", 0, 0},
        {"02 0G", "Character 5: \"G\" is not a hex digit.", 4, 5},
        {"02 0", "Character 4: a hex digit needs a second one to make a byte.", 3, 4},
    };
    for (const auto& r : refused) {
        SCOPED_TRACE(r.text);
        boxes.shown.clear();
        field->m_editBytes->setPlainText(r.text);
        dialog.accept();
        EXPECT_EQ(QDialog::Rejected, dialog.result());
        EXPECT_TRUE(dialog.isVisible());
        ASSERT_EQ(1u, boxes.shown.size());
        EXPECT_EQ(r.told, boxes.shown[0].text.toStdString());
        // An entry not yet begun is not called wrong while typing.
        EXPECT_EQ(*r.text ? r.told : "0 byte(s)", field->m_labelLength->text().toStdString());
        EXPECT_EQ(r.selectedFrom, field->m_editBytes->textCursor().selectionStart());
        EXPECT_EQ(r.selectedTo, field->m_editBytes->textCursor().selectionEnd());
    }

    // Hex that parses is shown as text, text typed under Hex is kept as typed.
    field->m_editBytes->setPlainText("52 53 0d 0A");
    field->m_radioText->click();
    EXPECT_EQ("RS\\r\\n", field->m_editBytes->toPlainText().toStdString());
    field->m_radioHex->click();
    EXPECT_EQ("52 53 0D 0A", field->m_editBytes->toPlainText().toStdString());
    field->m_editBytes->setPlainText("RST\\r\\n");
    field->m_radioText->click();
    EXPECT_EQ("RST\\r\\n", field->m_editBytes->toPlainText().toStdString());
    EXPECT_EQ("52 53 54 0D 0A", field->m_editOther->toPlainText().toStdString());
    EXPECT_EQ("5 byte(s)", field->m_labelLength->text().toStdString());

    boxes.shown.clear();
    dialog.accept();
    EXPECT_EQ(QDialog::Accepted, dialog.result());
    EXPECT_TRUE(boxes.shown.empty());
    EXPECT_EQ(QByteArray("RST\r\n"), field->Bytes());
}

} // namespace
