#pragma once

// CAboutDlg: the program's name and version.
#include "platform/dialog.h"

#include <QFont>
#include <QString>

#include <memory>

class CAboutDlg : public CDialog {
    Q_OBJECT

public:
    explicit CAboutDlg(QWidget* parent = nullptr);

    QString m_strVersion;
    std::unique_ptr<QFont> m_pFontKorean;
    std::unique_ptr<QFont> m_pFontDefault;

protected:
    bool OnInitDialog() override;
    void DoDataExchange(CDataExchange* pDX) override;
};
