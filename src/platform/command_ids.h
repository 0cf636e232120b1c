#pragma once

// Command and answer ids shared by dialogs and message boxes.
enum : int {
    IDOK = 1,
    IDCANCEL = 2,
    IDYES = 6,
    IDNO = 7,
};
