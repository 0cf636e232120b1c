#pragma once

// CTelDlg: the Telnet window. It is built once and shown modally for each
// Telnet session; every showing starts with an empty terminal, the new-line
// conversions chosen by the remote port, line mode off. Enter and Esc never
// close it; Close and the close box do.
#include "platform/dialog.h"

#include <QIcon>
#include <QString>

#include <memory>

class CAsyncSocket;
class CTelEdit;
class QCheckBox;
class QComboBox;

class CTelDlg : public CDialog
{
    Q_OBJECT

public:
    explicit CTelDlg(QWidget* parent = nullptr);
    ~CTelDlg() override;

    // Hands the connected socket and its remote port to the terminal.
    void SetSession(CAsyncSocket* socket, int remotePort);
    // Shows the window until it is closed; each showing initialises it afresh.
    int DoModal();

    void OnSysCommand(unsigned nID) override;

    QCheckBox* m_checkLinemode = nullptr;
    CTelEdit* m_editTerminal = nullptr;
    QComboBox* m_comboTx = nullptr;
    QComboBox* m_comboRx = nullptr;
    QIcon m_hIcon;
    QString m_strTitle;
    std::unique_ptr<QFont> m_pFontKorean;
    std::unique_ptr<QFont> m_pFontDefault;

protected:
    bool OnInitDialog() override;
    void DoDataExchange(CDataExchange* pDX) override;
    void OnOK() override;
    void OnCancel() override;
    QWidget* CreateControl(const ControlTemplate& control, QWidget* parent) override;
    void showEvent(QShowEvent* event) override;

private:
    void OnSelchangeRx();
    void OnSelchangeTx();
    void OnLinemode();
    void OnCloseButton();
    void OnNoOperation();
    void ResetComboItems(QComboBox* combo, int id);
    void SetAccessibleNames();
};
