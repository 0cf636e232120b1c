#pragma once

// CSendDlg: the modeless window that accompanies a transfer of the send pane:
// a bar with the percentage, the count of bytes sent against the total, the
// time since the first chunk, and two buttons whose captions are the
// transfer's state (Pause / Start / Restart, Cancel / Close). It talks to its
// owner only through SendNotify.
#include "platform/dialog.h"
#include "progress/send_notify.h"
#include "resource.h"

#include <QString>

#include <cstdint>

class CTextProgressCtrl;

class CSendDlg : public CDialog
{
    Q_OBJECT

public:
    explicit CSendDlg(QWidget* pParent);
    ~CSendDlg() override;

    // Prepares the window for a transfer of nTotal bytes.
    void StartSend(int nTotal);
    // The owner paused the transfer by itself: the window offers Start.
    void ShowPaused();
    // Progress codes from the owner (SEND_PROGRESS, SEND_DONE, SEND_BEGIN).
    Q_INVOKABLE int OnSendNotify(int code, int value);

    void OnButtonPause();
    void OnButtonCancel();

    CTextProgressCtrl* m_progress = nullptr;
    int m_nTotal = 0;
    QString m_strCount;
    QString m_strTime;
    // The monotonic clock: ticks a second, the tick of the first attempt and
    // of the latest accepted chunk.
    std::int64_t m_liFrequency;
    std::int64_t m_liStart = 0;
    std::int64_t m_liNow = 0;

protected:
    bool OnInitDialog() override;
    void DoDataExchange(CDataExchange* pDX) override;
    // Enter, Escape and the close box leave the window as it is.
    void OnOK() override;
    void OnCancel() override;
    QWidget* CreateControl(const ControlTemplate& control, QWidget* parent) override;

private:
    void UpdateElapsed();
};
