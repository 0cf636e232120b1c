#include "platform/data_exchange.h"

#include "platform/dialog.h"
#include "platform/message_box.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>

const char* const kMsgParseUInt = "Enter a positive integer.";
const char* const kMsgParseIntRange = "Enter an integer between %1 and %2.";

QWidget* CDataExchange::PrepareCtrl(int id)
{
    m_idLastControl = id;
    return m_pDlgWnd->GetDlgItem(id);
}

void CDataExchange::Fail()
{
    if (QWidget* w = m_pDlgWnd->GetDlgItem(m_idLastControl)) {
        w->setFocus(Qt::OtherFocusReason);
        if (auto* edit = qobject_cast<QLineEdit*>(w))
            edit->selectAll();
    }
    throw this;
}

bool ParseUnsignedField(const QString& text, unsigned& value)
{
    const QString t = text.trimmed();
    if (t.isEmpty() || t.size() > 10)
        return false;
    unsigned long long v = 0;
    for (const QChar ch : t) {
        if (ch < QLatin1Char('0') || ch > QLatin1Char('9'))
            return false;
        v = v * 10 + static_cast<unsigned>(ch.unicode() - '0');
    }
    if (v > 0xFFFFFFFFull)
        return false;
    value = static_cast<unsigned>(v);
    return true;
}

namespace {

QString ControlText(QWidget* w)
{
    if (auto* edit = qobject_cast<QLineEdit*>(w))
        return edit->text();
    if (auto* label = qobject_cast<QLabel*>(w))
        return label->text();
    if (auto* button = qobject_cast<QAbstractButton*>(w))
        return button->text();
    return {};
}

void SetControlText(QWidget* w, const QString& text)
{
    if (auto* edit = qobject_cast<QLineEdit*>(w)) {
        if (edit->text() != text)
            edit->setText(text);
    } else if (auto* label = qobject_cast<QLabel*>(w)) {
        label->setText(text);
    } else if (auto* button = qobject_cast<QAbstractButton*>(w)) {
        button->setText(text);
    }
}

} // namespace

void DDX_Text(CDataExchange* pDX, int id, unsigned& value)
{
    QWidget* w = pDX->PrepareCtrl(id);
    if (pDX->m_bSaveAndValidate) {
        unsigned parsed = 0;
        if (!ParseUnsignedField(ControlText(w), parsed)) {
            AfxMessageBox(QString::fromLatin1(kMsgParseUInt));
            pDX->Fail();
        }
        value = parsed;
    } else {
        SetControlText(w, QString::number(value));
    }
}

void DDX_Text(CDataExchange* pDX, int id, QString& value)
{
    QWidget* w = pDX->PrepareCtrl(id);
    if (pDX->m_bSaveAndValidate)
        value = ControlText(w);
    else
        SetControlText(w, value);
}

void DDX_CBIndex(CDataExchange* pDX, int id, int& index)
{
    auto* combo = qobject_cast<QComboBox*>(pDX->PrepareCtrl(id));
    if (!combo)
        return;
    if (pDX->m_bSaveAndValidate)
        index = combo->currentIndex();
    else
        combo->setCurrentIndex(index);
}

void DDX_Check(CDataExchange* pDX, int id, int& value)
{
    auto* button = qobject_cast<QAbstractButton*>(pDX->PrepareCtrl(id));
    if (!button)
        return;
    if (pDX->m_bSaveAndValidate)
        value = button->isChecked() ? 1 : 0;
    else
        button->setChecked(value != 0);
}

void DDV_MinMaxUInt(CDataExchange* pDX, unsigned value, unsigned minVal, unsigned maxVal)
{
    if (!pDX->m_bSaveAndValidate || (value >= minVal && value <= maxVal))
        return;
    AfxMessageBox(QString::fromLatin1(kMsgParseIntRange).arg(minVal).arg(maxVal));
    pDX->Fail();
}
