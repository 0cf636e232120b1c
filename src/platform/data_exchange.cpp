#include "platform/data_exchange.h"

#include "platform/dialog.h"
#include "platform/message_box.h"

#include <QAbstractButton>
#include <QComboBox>
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


void DDX_Text(CDataExchange* pDX, int id, unsigned& value)
{
    pDX->PrepareCtrl(id);
    if (pDX->m_bSaveAndValidate) {
        unsigned parsed = 0;
        if (!ParseUnsignedField(pDX->m_pDlgWnd->GetDlgItemText(id), parsed)) {
            AfxMessageBox(QString::fromLatin1(kMsgParseUInt));
            pDX->Fail();
        }
        value = parsed;
    } else {
        pDX->m_pDlgWnd->SetDlgItemText(id, QString::number(value));
    }
}

void DDX_Text(CDataExchange* pDX, int id, QString& value)
{
    pDX->PrepareCtrl(id);
    if (pDX->m_bSaveAndValidate)
        value = pDX->m_pDlgWnd->GetDlgItemText(id);
    else
        pDX->m_pDlgWnd->SetDlgItemText(id, value);
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
