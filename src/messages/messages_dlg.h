#pragma once

// CMessagesDlg: the saved messages window. A list of named byte strings,
// kept in messages.json beside the profile, each sent once, repeated on a
// timer, or with the whole list in order, on the open session through the
// main window's outgoing queue. Modeless, beside the main window; it hears of
// the session through the taps, so that its Send buttons follow it.
#include "messages/list_file.h"
#include "messages/list_window.h"
#include "messages/message_sender.h"
#include "messages/saved_message.h"
#include "net/session_tap.h"

#include <QDialog>

#include <cstdint>

class CKorvoDlg;
class QCheckBox;
class QPushButton;

class CMessagesDlg : public QDialog, public SessionTap
{
    Q_OBJECT

public:
    enum Column : int { COLUMN_NAME, COLUMN_DATA, COLUMN_REPEAT, COLUMN_COUNT, COLUMN_SENT };
    using MessageModel = CListModel<SavedMessage>;

    // `listPath`: where the list is kept; empty for messages.json beside the
    // profile.
    explicit CMessagesDlg(CKorvoDlg& owner, const QString& listPath = {});
    ~CMessagesDlg() override;

    // Shows the window; the first time it reads the list and stands beside
    // the main window, later where the user left it.
    void Open();

    void OnSend();
    void OnRunList();
    void OnLoop();
    void OnStopAll();
    void OnToSendPane();
    void OnCopyCommand();

    void OnSessionOpened(const SessionInfo& session, const TapTime& time) override;
    void OnSessionEnded(const SessionEnd& end, const TapTime& time) override;

    MessageModel* m_model = nullptr;
    CListPanel* m_panel = nullptr;
    QPushButton* m_btnSend = nullptr;
    QPushButton* m_btnRunList = nullptr;
    QCheckBox* m_checkLoop = nullptr;
    QPushButton* m_btnStopAll = nullptr;
    QPushButton* m_btnToSendPane = nullptr;
    QPushButton* m_btnCopyCommand = nullptr;
    QPushButton* m_btnClose = nullptr;
    MessageSender m_sender;

public slots:
    // Esc, Close and the close box: whatever this window was sending stops,
    // since nothing should go out from a window the user cannot see.
    void reject() override;

private:
    // The edit dialog for `row` (-1: a new message at the end); the row
    // that changed, or -1.
    int EditMessage(int row);
    bool CanSend() const;
    // Refuses, with a message, a message that cannot go out on this session.
    bool FitsSession(const SavedMessage& message);
    void UpdateButtons();
    void OnSent(std::uint64_t id);
    int RowOf(std::uint64_t id) const;

    CKorvoDlg& m_owner;
    CListFile m_file;
    bool m_bOpened = false;
};
