#pragma once

// Message boxes behind one function, with the button and icon codes the
// program is written with. Tests replace the box with a hook that reads the
// request and returns the answer.
#include "platform/command_ids.h"

#include <QString>

#include <functional>

class QWidget;

enum : unsigned {
    MB_OK = 0x00,
    MB_OKCANCEL = 0x01,
    MB_YESNOCANCEL = 0x03,
    MB_YESNO = 0x04,
    MB_ICONSTOP = 0x10,
    MB_ICONERROR = MB_ICONSTOP,
    MB_ICONHAND = MB_ICONSTOP,
    MB_ICONQUESTION = 0x20,
    MB_ICONEXCLAMATION = 0x30,
    MB_ICONWARNING = MB_ICONEXCLAMATION,
    MB_ICONINFORMATION = 0x40,
    MB_TYPEMASK = 0x0F,
    MB_ICONMASK = 0xF0,
};


struct MessageBoxRequest {
    QWidget* parent = nullptr;
    QString text;
    QString caption;
    unsigned type = MB_OK;
};

using MessageBoxHook = std::function<int(const MessageBoxRequest&)>;

// Shows a modal message box and returns the button pressed (IDOK, IDYES, ...).
// Closing the box without a button counts as Cancel, or No where there is no Cancel.
int ShowMessageBox(QWidget* parent, const QString& text, const QString& caption, unsigned type);

// The framework's application message box: captioned with the application name.
int AfxMessageBox(const QString& text, unsigned type = MB_OK | MB_ICONEXCLAMATION);

// Replaces every message box with the hook (an empty hook restores the real box).
void SetMessageBoxHook(MessageBoxHook hook);
