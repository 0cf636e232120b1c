#pragma once

// CDialog: a window built from a dialog template, with its controls addressed
// by id, commands routed by id, data exchange with validation, and the keys
// of a dialog (Enter runs the default button, Escape the Cancel command).
#include "platform/command_ids.h"
#include "platform/dialog_template.h"

#include <QDialog>
#include <QFont>

#include <functional>
#include <map>
#include <utility>

class CDataExchange;

// Notification codes carried with a command.
enum : int {
    BN_CLICKED = 0,
    CBN_SELCHANGE = 1,
    EN_SETFOCUS = 0x0100,
    EN_KILLFOCUS = 0x0200,
    UDN_DELTAPOS = -722,
};

// System commands.
enum : unsigned {
    SC_SIZE = 0xF000,
    SC_MINIMIZE = 0xF020,
    SC_MAXIMIZE = 0xF030,
    SC_CLOSE = 0xF060,
    SC_RESTORE = 0xF120,
};

class CDialog : public QDialog {
    Q_OBJECT

public:
    CDialog(const DialogTemplate& tpl, QWidget* parent = nullptr);
    ~CDialog() override;

    // Creates the controls and runs OnInitDialog, once. Modeless dialogs call
    // this directly; DoModal calls it before running the modal loop.
    bool Create();
    // Runs the dialog modally; returns the value passed to EndDialog.
    int DoModal();
    void EndDialog(int result);
    bool IsCreated() const { return m_bCreated; }

    // Controls by id.
    QWidget* GetDlgItem(int id) const;
    template <class T> T* Item(int id) const { return qobject_cast<T*>(GetDlgItem(id)); }
    void SetDlgItemText(int id, const QString& text);
    QString GetDlgItemText(int id) const;
    void EnableDlgItem(int id, bool enable);
    void CheckDlgButton(int id, bool checked);
    bool IsDlgButtonChecked(int id) const;
    void CheckRadioButton(int firstId, int lastId, int checkId);

    // Moves data between members and controls; when saving, stops at the first
    // invalid field after showing the framework's message and focusing it.
    bool UpdateData(bool bSaveAndValidate = true);

    // Runs the handler mapped to (id, code) at once, as a control would.
    void SendCommand(int id, int code = BN_CLICKED);

    // Geometry of the template, in pixels for this dialog's font.
    QRect MapDialogRect(int x, int y, int cx, int cy) const;
    const DialogTemplate& Template() const { return m_template; }
    QFont TemplateFont() const { return m_templateFont; }

    // Window-level system commands (the close box sends SC_CLOSE).
    virtual void OnSysCommand(unsigned nID);

protected:
    virtual bool OnInitDialog();
    virtual void DoDataExchange(CDataExchange* pDX);
    virtual void OnOK();
    virtual void OnCancel();
    // Creates the widget of a RichEdit, Progress or Custom control; nullptr for the default.
    virtual QWidget* CreateControl(const ControlTemplate& control, QWidget* parent);

    // Message map: handlers by control id and notification code.
    void MapCommand(int id, std::function<void()> handler) { MapNotify(id, BN_CLICKED, std::move(handler)); }
    void MapNotify(int id, int code, std::function<void()> handler);

    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void reject() override;
    void accept() override;

private:
    void BuildControls();
    QWidget* CreateStandardControl(const ControlTemplate& c);
    void ConnectNotifications(const ControlTemplate& c, QWidget* w);

    const DialogTemplate& m_template;
    QFont m_templateFont;
    int m_baseUnitX = 0;
    int m_baseUnitY = 0;
    bool m_bCreated = false;
    bool m_bModalLoop = false;
    std::map<int, QWidget*> m_controls;
    std::map<std::pair<int, int>, std::function<void()>> m_messageMap;
};
