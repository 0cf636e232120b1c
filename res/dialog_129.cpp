// The Telnet window: 566 x 415 dialog units.
#include "dialog_templates.h"

const DialogTemplate& TelnetDialogTemplate()
{
    static const DialogTemplate tpl{
        IDD_TELNET,
        "TELNET - Korvo",
        566,
        415,
        "Courier New",
        8,
        DS_MODALFRAME | DS_CAPTION | DS_SYSMENU,
        {
            {IDC_EDIT_TERMINAL, ControlKind::Custom, "", 7, 50, 552, 358,
             CS_MULTILINE | CS_VSCROLL | CS_BORDER},
            {IDC_COMBO_TX,
             ControlKind::ComboDropList,
             "",
             58,
             18,
             68,
             59,
             CS_VSCROLL,
             {"CR -> CR+LF", "CR -> LF"}},
            {IDC_COMBO_RX,
             ControlKind::ComboDropList,
             "",
             58,
             31,
             68,
             53,
             CS_VSCROLL,
             {"CR -> CR+LF", "LF -> CR+LF"}},
            {IDC_BUTTON_CLOSE, ControlKind::PushButton, "CLOSE", 257, 11, 50, 14},
            {IDC_STATIC_TX, ControlKind::Static, "TX", 13, 20, 37, 10},
            {IDC_STATIC_RX, ControlKind::Static, "RX", 13, 33, 37, 10},
            {IDC_CHECK_LINEMODE, ControlKind::CheckBox, "Linemode", 158, 17, 84, 10},
            {IDC_STATIC_NEWLINE, ControlKind::GroupBox, "New-line", 7, 7, 142, 41},
            {IDC_STATIC_MODE_GROUP, ControlKind::GroupBox, "", 153, 7, 103, 41},
            {IDC_BUTTON_NOP, ControlKind::PushButton, "No operation", 158, 28, 58, 14},
        },
    };
    return tpl;
}
