#pragma once

// CAgreementDlg: the disclaimer that has to be accepted before the first start.
#include "platform/dialog.h"

#include <QString>

class CAgreementDlg : public CDialog {
    Q_OBJECT

public:
    explicit CAgreementDlg(QWidget* parent = nullptr);

    void OnCheckAccept();
    void OnExitConfirm();

    QString m_strTitle;

protected:
    bool OnInitDialog() override;
};
