#pragma once

// The Automatic Replies window of a main dialog, opened from its menu entry,
// and rules typed into its edit dialog as a user types them.
#include "messages/byte_entry_dlg.h"
#include "replies/replies_dlg.h"
#include "ui/korvo_dlg.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTest>
#include <QTimer>

namespace korvo::test {

inline CRepliesDlg& OpenReplies(CKorvoDlg& dlg)
{
    dlg.m_actReplies->trigger();
    return *dlg.m_pRepliesDlg;
}

struct RuleEntry
{
    const char* name;
    // The When list's item: contains, starts with, equals, ends with.
    int when;
    // Text with escapes.
    const char* pattern;
    const char* reply;
    int delayMs;
};

// Add, the edit dialog filled in, OK.
inline void AddRule(CRepliesDlg& w, const RuleEntry& rule)
{
    QTimer::singleShot(0, [&rule] {
        auto* entry = qobject_cast<CByteEntryDlg*>(QApplication::activeModalWidget());
        if (!entry)
            return;
        QTest::keyClicks(entry->m_editName, rule.name);
        entry->findChild<QComboBox*>()->setCurrentIndex(rule.when);
        const QList<CByteField*> fields = entry->findChildren<CByteField*>();
        for (int i = 0; i < 2; ++i) {
            fields[i]->m_radioText->click();
            QTest::keyClicks(fields[i]->m_editBytes, i == 0 ? rule.pattern : rule.reply);
        }
        entry->findChild<QSpinBox*>()->setValue(rule.delayMs);
        entry->accept();
        // A refused entry would keep the test waiting.
        if (entry->isVisible())
            entry->reject();
    });
    w.m_panel->m_btnAdd->click();
}

} // namespace korvo::test
