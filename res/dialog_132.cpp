// The disclaimer dialog: 338 x 232 dialog units.
#include "dialog_templates.h"

const DialogTemplate& AgreementDialogTemplate()
{
    static const DialogTemplate tpl{
        IDD_AGREEMENT,
        "Dialog",
        338,
        232,
        "MS Shell Dlg",
        8,
        DS_MODALFRAME | DS_CAPTION | DS_SYSMENU | DS_APPWINDOW,
        {
            {IDC_STATIC_LANGUAGE, ControlKind::Static, "Language", 8, 9, 38, 8},
            {IDC_COMBO_LANGUAGE, ControlKind::ComboDropList, "", 46, 7, 63, 30, CS_VSCROLL},
            {IDC_RICHEDIT_AGREEMENT, ControlKind::RichEdit, "", 7, 22, 324, 175,
             CS_MULTILINE | CS_READONLY | CS_BORDER | CS_VSCROLL},
            {IDC_CHECK_ACCEPT, ControlKind::CheckBox, "Check1", 7, 198, 210, 10},
            {IDOK, ControlKind::DefPushButton, "OK", 119, 211, 50, 14},
            {IDCANCEL, ControlKind::PushButton, "Cancel", 169, 211, 50, 14},
        },
    };
    return tpl;
}
