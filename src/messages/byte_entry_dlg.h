#pragma once

// Shared with the automatic replies window (src/replies/): the entry of one
// byte string (CByteField) and the edit dialog of one row of a list
// (CByteEntryDlg), which holds a name, any number of byte fields and the
// caller's own rows.
#include "messages/byte_text.h"

#include <QDialog>
#include <QGroupBox>

#include <cstdint>
#include <functional>
#include <vector>

class QFormLayout;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;
class QSpinBox;

// "&Import..." reads "Import", "가져오기(&I)..." reads "가져오기": a caption as
// a name for screen readers or as a title.
QString PlainCaption(const QString& caption);

// One byte string: the form the user types in (hex, or text with escapes),
// the entry, the other form shown as it is typed, the bytes of the next send
// when it holds fields, and the length in bytes or what is wrong and where.
class CByteField : public QGroupBox
{
    Q_OBJECT

public:
    // `title`: what the field holds, with its mnemonic ("&Data", "&Pattern").
    explicit CByteField(const QString& title, QWidget* parent = nullptr);

    void SetBytes(const QByteArray& bytes) { SetTemplate(bytes); }
    void SetTemplate(const ByteTemplate& bytes);
    // What was typed so far; meaningful when Parse() is good.
    QByteArray Bytes() const { return Parse().bytes; }
    ByteTemplate Template() const { return Parse().Template(); }
    // Fields in braces are taken (what is sent), or refused (what is matched).
    void SetFieldsAllowed(bool allowed);
    // The counter the next send would carry, for showing its bytes.
    void SetNextCounter(std::uint32_t counter);
    // What the entry holds, or what is wrong with it (Empty when nothing was
    // typed and that is not allowed).
    ByteTextParse Parse() const;

    ByteForm Form() const { return m_form; }
    // Shows the entry in `form`: converted when it parses in the form it was
    // in, else kept as typed.
    void SetForm(ByteForm form);

    void SetLimit(qsizetype limit) { m_nLimit = limit; }
    void SetAllowEmpty(bool allow) { m_bAllowEmpty = allow; }

    // True when the entry is good; otherwise says what is wrong in a message
    // box, selects the place and puts the focus there.
    bool Validate();

    QRadioButton* m_radioHex = nullptr;
    QRadioButton* m_radioText = nullptr;
    QPlainTextEdit* m_editBytes = nullptr;
    // The other form, read-only.
    QPlainTextEdit* m_editOther = nullptr;
    QLabel* m_labelOther = nullptr;
    // The bytes of the next send, shown while the entry holds fields.
    QPlainTextEdit* m_editNext = nullptr;
    QLabel* m_labelNext = nullptr;
    // "4 bytes", or the fault.
    QLabel* m_labelLength = nullptr;

signals:
    void changed();

protected:
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void UpdateOtherForm();

    ByteForm m_form = ByteForm::Hex;
    qsizetype m_nLimit = BYTE_TEXT_MAX;
    bool m_bAllowEmpty = false;
    FieldUse m_fieldUse = FieldUse::Refused;
    std::uint32_t m_nNextCounter = 0;
    QString m_strName;
};

// The edit dialog of a list's row: "Name", then what the caller adds. OK
// checks every byte field, then the caller's own check.
class CByteEntryDlg : public QDialog
{
    Q_OBJECT

public:
    CByteEntryDlg(const QString& title, QWidget* parent);

    // `label` with its mnemonic; it also names the field for screen readers.
    void AddRow(const QString& label, QWidget* field);
    CByteField* AddByteField(const QString& title);
    QSpinBox* AddNumberRow(const QString& label, int minimum, int maximum);
    // A line of explanation across the dialog, below what came before.
    QLabel* AddNote(const QString& text);

    QLineEdit* m_editName = nullptr;
    // Run on OK after the byte fields passed; false keeps the dialog open.
    std::function<bool()> m_onValidate;

public slots:
    void accept() override;

private:
    void ButtonsLast(QWidget* lastField);

    QFormLayout* m_form = nullptr;
    QPushButton* m_btnOK = nullptr;
    QPushButton* m_btnCancel = nullptr;
    std::vector<CByteField*> m_byteFields;
};
