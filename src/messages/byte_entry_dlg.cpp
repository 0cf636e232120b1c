#include "messages/byte_entry_dlg.h"

#include "platform/fonts.h"
#include "platform/message_box.h"
#include "platform/strings.h"

#include <QButtonGroup>
#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QTextBlock>
#include <QVBoxLayout>

namespace {

// The other form shows this much; the length says how much there is.
constexpr qsizetype kPreviewBytes = 4096;
// Hex in the entry breaks its lines, so a long entry lays out line by line.
constexpr int kHexBytesPerLine = 16;

QString FormatForEntry(ByteForm form, const ByteTemplate& bytes)
{
    return FormatTemplate(form, bytes, -1, form == ByteForm::Hex ? kHexBytesPerLine : 0);
}

QPlainTextEdit* MakeByteEdit(QWidget* parent, int lines)
{
    auto* edit = new QPlainTextEdit(parent);
    edit->setFont(CreateDefaultFont());
    edit->setTabChangesFocus(true);
    edit->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    edit->setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    const int line = edit->fontMetrics().lineSpacing();
    edit->setFixedHeight(line * lines + 2 * edit->frameWidth() + 8);
    return edit;
}

} // namespace

QString PlainCaption(const QString& caption)
{
    QString text = caption;
    text.remove(QRegularExpression(QStringLiteral("\\(&.\\)")));
    text.replace(QLatin1String("&&"), QStringLiteral("\x01"));
    text.remove(QLatin1Char('&'));
    text.replace(QStringLiteral("\x01"), QStringLiteral("&"));
    for (const QString& tail : {QStringLiteral("..."), QStringLiteral(":"), QStringLiteral("\uFF1A")}) {
        if (text.endsWith(tail))
            text.chop(tail.size());
    }
    return text.trimmed();
}

CByteField::CByteField(const QString& title, QWidget* parent) : QGroupBox(title, parent)
{
    m_strName = PlainCaption(title);
    m_radioHex = new QRadioButton(LoadStr(240), this);
    m_radioText = new QRadioButton(LoadStr(241), this);
    auto* forms = new QButtonGroup(this);
    forms->addButton(m_radioHex);
    forms->addButton(m_radioText);
    m_radioHex->setChecked(true);
    connect(m_radioHex, &QRadioButton::toggled, this, [this](bool on) {
        if (on)
            SetForm(ByteForm::Hex);
    });
    connect(m_radioText, &QRadioButton::toggled, this, [this](bool on) {
        if (on)
            SetForm(ByteForm::Text);
    });

    m_editBytes = MakeByteEdit(this, 3);
    m_editBytes->setAccessibleName(m_strName);
    m_editBytes->setAccessibleDescription(LoadStr(240));
    m_editBytes->installEventFilter(this);
    m_editOther = MakeByteEdit(this, 2);
    m_editOther->setReadOnly(true);
    m_editOther->setFocusPolicy(Qt::TabFocus);
    m_labelOther = new QLabel(this);
    m_editNext = MakeByteEdit(this, 2);
    m_editNext->setReadOnly(true);
    m_editNext->setFocusPolicy(Qt::TabFocus);
    m_editNext->setAccessibleName(LoadStr(356).arg(m_strName));
    m_labelNext = new QLabel(LoadStr(355), this);
    m_labelNext->setBuddy(m_editNext);
    m_labelLength = new QLabel(this);
    m_labelLength->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_labelLength->setWordWrap(true);

    auto* grid = new QGridLayout(this);
    auto* formRow = new QHBoxLayout;
    formRow->addWidget(m_radioHex);
    formRow->addWidget(m_radioText);
    formRow->addStretch(1);
    grid->addLayout(formRow, 0, 0, 1, 2);
    grid->addWidget(m_editBytes, 1, 0, 1, 2);
    grid->addWidget(m_labelOther, 2, 0, Qt::AlignTop);
    grid->addWidget(m_editOther, 2, 1);
    grid->addWidget(m_labelNext, 3, 0, Qt::AlignTop);
    grid->addWidget(m_editNext, 3, 1);
    grid->addWidget(m_labelLength, 4, 0, 1, 2);
    grid->setColumnStretch(1, 1);

    connect(m_editBytes, &QPlainTextEdit::textChanged, this, [this] {
        UpdateOtherForm();
        emit changed();
    });
    UpdateOtherForm();
}

void CByteField::SetTemplate(const ByteTemplate& bytes)
{
    m_editBytes->setPlainText(FormatForEntry(m_form, bytes));
}

void CByteField::SetFieldsAllowed(bool allowed)
{
    m_fieldUse = allowed ? FieldUse::Allowed : FieldUse::Refused;
    UpdateOtherForm();
}

void CByteField::SetNextCounter(std::uint32_t counter)
{
    m_nNextCounter = counter;
    UpdateOtherForm();
}

ByteTextParse CByteField::Parse() const
{
    const QString text = m_editBytes->toPlainText();
    ByteTextParse parse = ParseBytes(m_form, text, m_nLimit, m_fieldUse);
    if (parse.Ok() && parse.bytes.isEmpty() && !m_bAllowEmpty)
        parse.error = ByteTextError::Empty;
    return parse;
}

void CByteField::SetForm(ByteForm form)
{
    if (form != m_form) {
        // What parses is shown in the new form; what does not is taken as
        // typed in the new form (text typed while Hex was chosen, say).
        const ByteTextParse parse = ParseBytes(m_form, m_editBytes->toPlainText(), m_nLimit, m_fieldUse);
        m_form = form;
        if (parse.Ok())
            SetTemplate(parse.Template());
    }
    const QSignalBlocker blockHex(m_radioHex), blockText(m_radioText);
    (form == ByteForm::Hex ? m_radioHex : m_radioText)->setChecked(true);
    m_editBytes->setAccessibleDescription(LoadStr(form == ByteForm::Hex ? 240 : 241));
    UpdateOtherForm();
}

void CByteField::UpdateOtherForm()
{
    const ByteForm other = m_form == ByteForm::Hex ? ByteForm::Text : ByteForm::Hex;
    const int otherId = other == ByteForm::Hex ? 243 : 244;
    m_labelOther->setText(LoadStr(other == ByteForm::Hex ? 240 : 241) + QLatin1Char(':'));
    m_editOther->setAccessibleName(LoadStr(otherId).arg(m_strName));
    const QString text = m_editBytes->toPlainText();
    const ByteTextParse parse = ParseBytes(m_form, text, m_nLimit, m_fieldUse);
    const bool fields = parse.Ok() && !parse.fields.empty();
    if (parse.Ok()) {
        const ByteTemplate bytes = parse.Template();
        m_editOther->setPlainText(FormatTemplate(other, bytes, kPreviewBytes));
        if (fields)
            m_editNext->setPlainText(FormatHexBytes(bytes.Render(m_nNextCounter), kPreviewBytes));
        m_labelLength->setText(LoadStr(242).arg(parse.bytes.size()));
    } else {
        m_editOther->clear();
        m_labelLength->setText(ByteTextErrorMessage(parse, text));
    }
    m_labelLength->setToolTip(ByteTextErrorHint(parse));
    // Only strings with fields differ from their bytes; the others keep the
    // dialog as it was.
    const QString description = LoadStr(357).arg(m_nNextCounter);
    m_editNext->setAccessibleDescription(description);
    m_editNext->setToolTip(description);
    m_labelNext->setVisible(fields);
    m_editNext->setVisible(fields);
}

bool CByteField::Validate()
{
    const ByteTextParse parse = Parse();
    if (parse.Ok())
        return true;
    const QString text = m_editBytes->toPlainText();
    QString told = ByteTextErrorMessage(parse, text);
    if (const QString hint = ByteTextErrorHint(parse); !hint.isEmpty())
        told += u'\n' + hint;
    ShowMessageBox(window(), told, LoadStr(104), MB_OK | MB_ICONEXCLAMATION);
    QTextCursor cursor = m_editBytes->textCursor();
    cursor.setPosition(static_cast<int>(std::min(parse.position, text.size())));
    cursor.setPosition(static_cast<int>(std::min(parse.position + parse.length, text.size())),
                       QTextCursor::KeepAnchor);
    m_editBytes->setTextCursor(cursor);
    m_editBytes->setFocus();
    return false;
}

bool CByteField::event(QEvent* event)
{
    // The title's mnemonic goes to the entry, not to the form buttons.
    if (event->type() == QEvent::Shortcut) {
        m_editBytes->setFocus(Qt::ShortcutFocusReason);
        return true;
    }
    return QGroupBox::event(event);
}

bool CByteField::eventFilter(QObject* watched, QEvent* event)
{
    // Enter is the dialog's OK, as in any other field; a line break in text
    // form is typed as \n.
    if (watched == m_editBytes && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if ((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) &&
            !(key->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier))) {
            if (auto* dialog = qobject_cast<QDialog*>(window()))
                dialog->accept();
            return true;
        }
    }
    return QGroupBox::eventFilter(watched, event);
}

CByteEntryDlg::CByteEntryDlg(const QString& title, QWidget* parent) : QDialog(parent)
{
    setWindowTitle(title);
    auto* layout = new QVBoxLayout(this);
    m_form = new QFormLayout;
    layout->addLayout(m_form);
    m_editName = new QLineEdit(this);
    AddRow(LoadStr(239), m_editName);

    auto* buttons = new QDialogButtonBox(this);
    m_btnOK = buttons->addButton(LoadStr(128), QDialogButtonBox::AcceptRole);
    m_btnCancel = buttons->addButton(LoadStr(142), QDialogButtonBox::RejectRole);
    m_btnOK->setDefault(true);
    connect(buttons, &QDialogButtonBox::accepted, this, &CByteEntryDlg::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &CByteEntryDlg::reject);
    layout->addWidget(buttons);
    setMinimumWidth(520);
}

void CByteEntryDlg::AddRow(const QString& label, QWidget* field)
{
    auto* caption = new QLabel(label, this);
    caption->setBuddy(field);
    field->setAccessibleName(PlainCaption(label));
    m_form->addRow(caption, field);
    ButtonsLast(field);
}

void CByteEntryDlg::ButtonsLast(QWidget* lastField)
{
    // Made first, the buttons would come right after the name on Tab.
    if (m_btnOK) {
        setTabOrder(lastField, m_btnOK);
        setTabOrder(m_btnOK, m_btnCancel);
    }
}

CByteField* CByteEntryDlg::AddByteField(const QString& title)
{
    auto* field = new CByteField(title, this);
    m_form->addRow(field);
    m_byteFields.push_back(field);
    ButtonsLast(field->m_editNext);
    return field;
}

QSpinBox* CByteEntryDlg::AddNumberRow(const QString& label, int minimum, int maximum)
{
    auto* spin = new QSpinBox(this);
    spin->setRange(minimum, maximum);
    spin->setGroupSeparatorShown(false);
    AddRow(label, spin);
    return spin;
}

QLabel* CByteEntryDlg::AddNote(const QString& text)
{
    auto* note = new QLabel(text, this);
    note->setWordWrap(true);
    m_form->addRow(note);
    return note;
}

void CByteEntryDlg::accept()
{
    for (CByteField* field : m_byteFields) {
        if (!field->Validate())
            return;
    }
    if (m_onValidate && !m_onValidate())
        return;
    QDialog::accept();
}
