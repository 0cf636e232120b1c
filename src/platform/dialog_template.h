#pragma once

// Dialog templates as data: each control's id, kind, template text, position
// and size in dialog units, and style. The order of the controls is the tab order.
#include "platform/command_ids.h"

#include <vector>

enum class ControlKind {
    Static,
    Icon,           // the program icon
    GroupBox,
    PushButton,
    DefPushButton,  // the dialog's default push button
    CheckBox,       // automatic check box
    RadioButton,    // automatic radio button
    Edit,
    ComboDropList,  // drop-down list, no typing
    UpDown,         // up-down arrows, not attached to an edit
    RichEdit,       // created by the dialog (its own control class)
    Progress,
    Custom,         // created by the dialog (its own control class)
};

// Control styles.
enum : unsigned {
    CS_NONE = 0,
    CS_BORDER = 1u << 0,
    CS_AUTOHSCROLL = 1u << 1,
    CS_READONLY = 1u << 2,
    CS_MULTILINE = 1u << 3,
    CS_RIGHT = 1u << 4,      // right-aligned text
    CS_GROUP = 1u << 5,      // starts a group (radio buttons)
    CS_NOTABSTOP = 1u << 6,
    CS_DISABLED = 1u << 7,
    CS_HIDDEN = 1u << 8,
    CS_VSCROLL = 1u << 9,
    CS_ARROWKEYS = 1u << 10, // up-down control reacts to the arrow keys
    CS_CENTER = 1u << 11,
    CS_WANTRETURN = 1u << 12,
};

// Dialog styles.
enum : unsigned {
    DS_NONE = 0,
    DS_MODALFRAME = 1u << 0,
    DS_CAPTION = 1u << 1,
    DS_SYSMENU = 1u << 2,
    DS_APPWINDOW = 1u << 3,  // shown in the task bar
    DS_VISIBLE = 1u << 4,
    DS_MINIMIZEBOX = 1u << 5,
};

struct ControlTemplate {
    int id;
    ControlKind kind;
    const char* text; // UTF-8 template text
    int x, y, cx, cy; // dialog units
    unsigned style = CS_NONE;
    std::vector<const char*> items = {}; // a combo box's first items, UTF-8
};

struct DialogTemplate {
    int id;
    const char* title;
    int cx, cy; // client area in dialog units
    const char* fontFace;
    int fontPoints;
    unsigned style;
    std::vector<ControlTemplate> controls;
};

// Control ids shared by every dialog.
enum : int {
    IDC_STATIC = -1,
};
