#pragma once

// CAgreementDlg: the disclaimer of liability that has to be accepted before
// the main window opens for the first time.
#include "platform/dialog.h"

#include <QString>

#include <cstddef>
#include <cstdint>

class CRichEditCtrl;
class QComboBox;

// How far the streaming of the current document has got: the next line, and
// the bytes of it already handed over when it did not fit in one piece.
extern int g_nRtfLine;
extern std::size_t g_nRtfLineOffset;

class CAgreementDlg : public CDialog
{
    Q_OBJECT

public:
    explicit CAgreementDlg(QWidget* parent = nullptr);
    ~CAgreementDlg() override;

    void OnCheckAccept();
    void OnSelchangeLanguage();
    void OnExitConfirm();
    // Shows the document of the selected language from its top.
    void LoadDocument();

    // Hands over the next line of the table given as cookie (a null-terminated
    // array of lines), never more than cb bytes.
    static std::uint32_t StreamInCallback(std::uintptr_t dwCookie, std::uint8_t* pbBuff, std::int32_t cb,
                                          std::int32_t* pcb);

    CRichEditCtrl* m_richText = nullptr;
    QComboBox* m_comboLanguage = nullptr;
    QString m_strTitle;

protected:
    bool OnInitDialog() override;
    void DoDataExchange(CDataExchange* pDX) override;
    QWidget* CreateControl(const ControlTemplate& control, QWidget* parent) override;
};
