#pragma once

// CRepliesDlg: the automatic replies window. A table of rules (when the
// session receives a pattern, send a reply), kept in replies.json beside the
// profile, and the master switch "Reply automatically", off at every start
// so that no program answers a peer unexpectedly. Modeless; the rules work
// while it is hidden.
#include "messages/list_file.h"
#include "messages/list_window.h"
#include "replies/reply_engine.h"
#include "replies/reply_file.h"
#include "replies/reply_rule.h"

#include <QDialog>
#include <QJsonObject>

#include <memory>
#include <optional>
#include <vector>

class CKorvoDlg;
class QCheckBox;
class QPushButton;
class QSpinBox;

using CReplyModel = CListModel<ReplyRule>;

// The columns of the rules table.
enum ReplyColumn : int {
    REPLY_COL_ENABLED,
    REPLY_COL_NAME,
    REPLY_COL_WHEN,
    REPLY_COL_PATTERN,
    REPLY_COL_REPLY,
    REPLY_COL_DELAY,
    REPLY_COL_MATCHED,
};

class CRepliesDlg : public QDialog
{
    Q_OBJECT

public:
    static constexpr int PATTERN_MAX = REPLY_PATTERN_MAX;
    static constexpr int DELAY_MAX_MS = REPLY_DELAY_MAX_MS;
    static constexpr int GAP_MAX_MS = 60000;

    explicit CRepliesDlg(CKorvoDlg& dlg);
    ~CRepliesDlg() override;

    // Shows the window and brings it forward.
    void Open();

    // The edit dialog of row `row` (-1: a new rule at the end); the row that
    // changed, or -1 when cancelled.
    int EditRule(int row);

    CReplyModel* m_model = nullptr;
    CListPanel* m_panel = nullptr;
    QCheckBox* m_checkAuto = nullptr;
    QSpinBox* m_spinGap = nullptr;
    // Ticks the selected rule, for keyboards and assistive tools.
    QCheckBox* m_checkEnabled = nullptr;
    QPushButton* m_btnClose = nullptr;
    CListFile m_file;
    std::unique_ptr<CReplyEngine> m_engine;

protected:
    void hideEvent(QHideEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void SetEnabled(int row, bool enabled);
    void ShowSelectedEnabled();
    // Tells the user, once the socket handler has returned, which rules the
    // runaway guard paused.
    void OnPaused(int row);
    void TellPaused();
    void TellTooLong(int row);

    CKorvoDlg& m_dlg;
    std::vector<int> m_pausedRows;
    bool m_bPlaceRestored = false;
};
