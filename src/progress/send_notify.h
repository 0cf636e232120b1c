#pragma once

// The private message between the send-progress window and the main window.
// It always goes as a synchronous call on the GUI thread: the receiver has
// acted on it before the sender's next step. Codes outside the list are
// ignored by both receivers.
#include <QMetaObject>
#include <QObject>

enum SendNotifyCode : int {
    // From the progress window to its owner.
    SEND_CANCEL = 0,
    SEND_PAUSE = 1,
    SEND_RESUME = 2,
    SEND_RESTART = 3,
    // From the owner to the progress window.
    SEND_PROGRESS = 4, // value: bytes sent so far
    SEND_DONE = 5,
    SEND_BEGIN = 6,
};

// Delivers (code, value) to the receiver's OnSendNotify(int, int) at once;
// false when the receiver has no such handler.
inline bool SendNotify(QObject* receiver, int code, int value)
{
    int result = 0;
    return receiver &&
           QMetaObject::invokeMethod(receiver, "OnSendNotify", Qt::DirectConnection,
                                     Q_RETURN_ARG(int, result), Q_ARG(int, code), Q_ARG(int, value));
}
