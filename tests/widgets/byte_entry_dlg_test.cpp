// The edit dialog of a list row: OK takes only good bytes and points at the
// fault; switching the form keeps what was typed.
#include "messages/byte_entry_dlg.h"

#include "support/message_boxes.h"

#include <gtest/gtest.h>

#include <QLabel>
#include <QPlainTextEdit>
#include <QRadioButton>

#include <cstring>

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

TEST(ByteEntryDlg, FieldsShowTheNextSendAsTypedAndAFaultIsSelectedWhereItIs)
{
    MessageBoxes boxes;
    CByteEntryDlg dialog("Message", nullptr);
    CByteField* data = dialog.AddByteField("&Data");
    data->SetFieldsAllowed(true);
    data->SetNextCounter(5);
    CByteField* pattern = dialog.AddByteField("&Pattern");
    pattern->SetBytes("x");
    dialog.show();

    // Bytes alone: the dialog as it was.
    data->m_editBytes->setPlainText("01 03");
    EXPECT_FALSE(data->m_editNext->isVisible());
    data->m_editBytes->setPlainText("{seq:u16be} 00 00 00 06 01 03 00 0A 00 02");
    EXPECT_TRUE(data->m_editNext->isVisible());
    EXPECT_EQ("00 05 00 00 00 06 01 03 00 0A 00 02", data->m_editNext->toPlainText().toStdString());
    EXPECT_EQ("12 byte(s)", data->m_labelLength->text().toStdString());
    data->m_editBytes->setPlainText("01 03 00 0A 00 02 {crc16-modbus}");
    data->m_radioText->click();
    EXPECT_EQ("\\x01\\x03\\0\\n\\0\\x02{crc16-modbus}", data->m_editBytes->toPlainText().toStdString());
    EXPECT_EQ("01 03 00 0A 00 02 E4 09", data->m_editNext->toPlainText().toStdString());

    const struct
    {
        CByteField* field;
        const char16_t* text;
        const char* told;
        int selectedFrom, selectedTo;
    } refused[] = {
        {data, u"\\x01{crc8}", "Character 5: {crc8} is not a field.\nChecksums: {crc16-modbus}", 4, 10},
        {data, u"😀{sum8:be}", "Character 2: {sum8:be} is one byte and has no byte order.", 2, 11},
        {pattern, u"a{b",
         "Character 2: a pattern holds bytes only, no fields; in text, write \\{ for a brace.", 1, 2},
    };
    pattern->m_radioText->click();
    for (const auto& r : refused) {
        const QString text = QString::fromUtf16(r.text);
        SCOPED_TRACE(text.toStdString());
        boxes.shown.clear();
        r.field->m_editBytes->setPlainText(text);
        dialog.accept();
        EXPECT_TRUE(dialog.isVisible());
        ASSERT_EQ(1u, boxes.shown.size());
        EXPECT_EQ(r.told,
                  boxes.shown[0].text.left(static_cast<qsizetype>(std::strlen(r.told))).toStdString());
        EXPECT_FALSE(r.field->m_editNext->isVisible());
        EXPECT_EQ(r.selectedFrom, r.field->m_editBytes->textCursor().selectionStart());
        EXPECT_EQ(r.selectedTo, r.field->m_editBytes->textCursor().selectionEnd());
        r.field->m_editBytes->setPlainText("01");
    }
}

} // namespace
