// The main dialog: 339 x 377 dialog units, controls in tab order.
#include "dialog_templates.h"

const DialogTemplate& KorvoDialogTemplate()
{
    static const DialogTemplate tpl{
        IDD_KORVO_DIALOG,
        "Korvo - Pellix",
        339,
        377,
        "Courier New",
        8,
        DS_MODALFRAME | DS_CAPTION | DS_SYSMENU | DS_APPWINDOW,
        {
            {1056, ControlKind::Edit, "", 132, 314, 126, 12, CS_BORDER | CS_AUTOHSCROLL},
            {1013, ControlKind::Edit, "", 260, 314, 46, 12, CS_BORDER | CS_AUTOHSCROLL},
            {1014, ControlKind::PushButton, "CONNECT", 11, 340, 50, 12},
            {1020, ControlKind::PushButton, "CLOSE", 61, 340, 50, 12},
            {1034, ControlKind::PushButton, "TELNET", 111, 340, 50, 12},
            {1065, ControlKind::PushButton, "EXIT", 252, 340, 78, 12},
            {1032, ControlKind::PushButton, "SAVE", 10, 133, 50, 12},
            {1021, ControlKind::PushButton, "CLEAR", 60, 133, 50, 12},
            {1031, ControlKind::PushButton, "LOAD", 167, 281, 50, 12},
            {1033, ControlKind::PushButton, "SAVE", 218, 281, 50, 12},
            {1029, ControlKind::DefPushButton, "RESIZE", 105, 281, 61, 12},
            {1019, ControlKind::PushButton, "SEND", 268, 281, 62, 12},
            {1060, ControlKind::GroupBox, "SEND", 4, 151, 331, 147},
            {1059, ControlKind::GroupBox, "RECV", 4, 3, 331, 146},
            {1061, ControlKind::Static, "REMOTE IP", 132, 306, 95, 8},
            {1062, ControlKind::Static, "PORT NO", 260, 306, 69, 8},
            {1037, ControlKind::Edit, "", 4, 356, 331, 12, CS_READONLY},
            {1039, ControlKind::Edit, "", 57, 281, 35, 12, CS_BORDER | CS_AUTOHSCROLL},
            {1040, ControlKind::UpDown, "Spin1", 93, 281, 8, 12, CS_ARROWKEYS},
            {1008, ControlKind::RichEdit, "", 10, 14, 320, 118, CS_MULTILINE | CS_BORDER},
            {1004, ControlKind::RichEdit, "", 11, 162, 320, 118, CS_MULTILINE | CS_BORDER},
            {1057, ControlKind::CheckBox, "Keep Alive", 11, 318, 56, 10},
            {1066, ControlKind::Static, "Receive Count :", 114, 137, 65, 8},
            {1058, ControlKind::Static, "Static", 182, 137, 47, 8, CS_RIGHT},
            {1063, ControlKind::Static, "Local Port", 84, 306, 44, 8},
            {1015, ControlKind::Edit, "", 84, 314, 46, 12, CS_BORDER | CS_AUTOHSCROLL},
            {IDC_STATIC, ControlKind::GroupBox, "", 4, 294, 331, 61},
            {1064, ControlKind::Static, "Byte(s)", 235, 137, 47, 8},
            {1069, ControlKind::Static, "데이터 길이", 11, 285, 46, 8},
            {1072, ControlKind::ComboDropList, "", 11, 303, 69, 67, CS_VSCROLL},
            {1079, ControlKind::RadioButton, "IPv4", 11, 329, 32, 10, CS_GROUP},
            {1080, ControlKind::RadioButton, "IPv6", 47, 329, 32, 10},
        },
    };
    return tpl;
}
