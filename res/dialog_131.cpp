// The send-progress window: 245 x 57 dialog units, created hidden.
#include "dialog_templates.h"

const DialogTemplate& SendDialogTemplate()
{
    static const DialogTemplate tpl{
        IDD_SEND_DIALOG,
        "Dialog",
        245,
        57,
        "MS Shell Dlg",
        8,
        DS_MODALFRAME | DS_CAPTION | DS_SYSMENU,
        {
            {IDC_PROGRESS_SEND, ControlKind::Progress, "", 7, 7, 231, 14, CS_BORDER},
            {IDC_STATIC_SEND_COUNT, ControlKind::Static, "Static", 7, 22, 116, 12, CS_CENTER | CS_BORDER},
            {IDC_STATIC_SEND_TIME, ControlKind::Static, "Static", 122, 22, 116, 12, CS_CENTER | CS_BORDER},
            {IDC_BUTTON_PAUSE, ControlKind::PushButton, "Button1", 73, 36, 50, 14},
            {IDC_BUTTON_CANCEL_SEND, ControlKind::PushButton, "Button2", 123, 36, 50, 14},
        },
    };
    return tpl;
}
