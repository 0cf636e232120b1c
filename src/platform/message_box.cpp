#include "platform/message_box.h"

#include <QApplication>
#include <QMessageBox>
#include <QPointer>

namespace {

MessageBoxHook& Hook()
{
    static MessageBoxHook hook;
    return hook;
}

QMessageBox::Icon IconFor(unsigned type)
{
    switch (type & MB_ICONMASK) {
    case MB_ICONSTOP:
        return QMessageBox::Critical;
    case MB_ICONQUESTION:
        return QMessageBox::Question;
    case MB_ICONEXCLAMATION:
        return QMessageBox::Warning;
    case MB_ICONINFORMATION:
        return QMessageBox::Information;
    default:
        return QMessageBox::NoIcon;
    }
}

} // namespace

void SetMessageBoxHook(MessageBoxHook hook)
{
    Hook() = std::move(hook);
}

int ShowMessageBox(QWidget* parent, const QString& text, const QString& caption, unsigned type)
{
    // A disabled window (the main window under the Telnet window) is no home
    // for a box: it goes above the window the user is working in.
    if (parent && !parent->isEnabled()) {
        if (QWidget* modal = QApplication::activeModalWidget())
            parent = modal;
    }
    if (Hook())
        return Hook()(MessageBoxRequest{parent, text, caption, type});

    QMessageBox box(IconFor(type), caption, text, QMessageBox::NoButton, parent);
    int escapeResult = IDOK;
    switch (type & MB_TYPEMASK) {
    case MB_OKCANCEL:
        box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
        escapeResult = IDCANCEL;
        break;
    case MB_YESNOCANCEL:
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
        escapeResult = IDCANCEL;
        break;
    case MB_YESNO:
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        escapeResult = IDNO;
        break;
    default:
        box.setStandardButtons(QMessageBox::Ok);
        break;
    }
    if (!QApplication::windowIcon().isNull())
        box.setWindowIcon(QApplication::windowIcon());
    switch (box.exec()) {
    case QMessageBox::Ok:
        return IDOK;
    case QMessageBox::Cancel:
        return IDCANCEL;
    case QMessageBox::Yes:
        return IDYES;
    case QMessageBox::No:
        return IDNO;
    default:
        return escapeResult;
    }
}

int AfxMessageBox(const QString& text, unsigned type)
{
    // The framework gives an icon to boxes that ask for none.
    if ((type & MB_ICONMASK) == 0)
        type |= ((type & MB_TYPEMASK) == MB_YESNO || (type & MB_TYPEMASK) == MB_YESNOCANCEL) ? MB_ICONQUESTION
                                                                                              : MB_ICONEXCLAMATION;
    return ShowMessageBox(QApplication::activeWindow(), text, QApplication::applicationName(), type);
}
