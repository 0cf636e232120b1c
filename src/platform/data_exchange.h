#pragma once

// Data exchange between a dialog's members and its controls, with the
// framework's validation messages.
#include <QString>

class CDialog;
class QWidget;

class CDataExchange {
public:
    CDataExchange(CDialog* dialog, bool bSaveAndValidate) : m_pDlgWnd(dialog), m_bSaveAndValidate(bSaveAndValidate) {}

    // Notes the control that the next failure focuses.
    QWidget* PrepareCtrl(int id);
    // Focuses (and selects) the last prepared control and abandons the exchange.
    [[noreturn]] void Fail();

    CDialog* m_pDlgWnd;
    bool m_bSaveAndValidate;
    int m_idLastControl = 0;
};

// The framework's messages.
extern const char* const kMsgParseUInt;    // "Enter a positive integer."
extern const char* const kMsgParseIntRange; // "Enter an integer between %1 and %2."

// Parses what an unsigned field accepts: optional blanks around decimal digits,
// no sign, no more than 32 bits. Empty or anything else fails.
bool ParseUnsignedField(const QString& text, unsigned& value);

void DDX_Text(CDataExchange* pDX, int id, unsigned& value);
void DDX_Text(CDataExchange* pDX, int id, QString& value);
void DDX_CBIndex(CDataExchange* pDX, int id, int& index);
void DDX_Check(CDataExchange* pDX, int id, int& value);
void DDV_MinMaxUInt(CDataExchange* pDX, unsigned value, unsigned minVal, unsigned maxVal);

// Binds a member pointer to the control with that id.
template <class T> void DDX_Control(CDataExchange* pDX, int id, T*& control);

#include "platform/dialog.h"

template <class T> void DDX_Control(CDataExchange* pDX, int id, T*& control)
{
    if (!control)
        control = pDX->m_pDlgWnd->template Item<T>(id);
}
