// The About box: 240 x 43 dialog units.
#include "dialog_templates.h"

const DialogTemplate& AboutDialogTemplate()
{
    static const DialogTemplate tpl{
        IDD_ABOUTBOX,
        "About Korvo",
        240,
        43,
        "Courier New",
        8,
        DS_MODALFRAME | DS_CAPTION | DS_SYSMENU,
        {
            {IDR_MAINFRAME, ControlKind::Icon, "", 11, 9, 20, 20, CS_NOTABSTOP},
            {IDC_STATIC_VERSION, ControlKind::Static, "", 40, 10, 119, 8, CS_NOTABSTOP},
            {IDC_STATIC_ABOUT_NOTE, ControlKind::Static, "TCP/IP test terminal", 40, 21, 135, 8, CS_NOTABSTOP},
            {IDOK, ControlKind::DefPushButton, "OK", 183, 7, 50, 14, CS_GROUP},
        },
    };
    return tpl;
}
