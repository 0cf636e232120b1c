#pragma once

// A message added to the Messages window as a user adds it: Add, the edit
// dialog filled in, OK.
#include "messages/byte_entry_dlg.h"
#include "messages/messages_dlg.h"

#include <QApplication>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTimer>

#include <gtest/gtest.h>

namespace korvo::test {

inline void AddMessageByDialog(CMessagesDlg& win, const QString& name, ByteForm form, const QString& data,
                               int repeatMs, int count = 0)
{
    QTimer::singleShot(0, [=] {
        auto* dialog = qobject_cast<CByteEntryDlg*>(QApplication::activeModalWidget());
        ASSERT_NE(nullptr, dialog);
        dialog->m_editName->setText(name);
        auto* field = dialog->findChild<CByteField*>();
        (form == ByteForm::Hex ? field->m_radioHex : field->m_radioText)->click();
        field->m_editBytes->setPlainText(data);
        const QList<QSpinBox*> spins = dialog->findChildren<QSpinBox*>();
        spins[0]->setValue(repeatMs);
        spins[1]->setValue(count);
        dialog->accept();
        // A refused entry would keep the test waiting.
        if (dialog->isVisible())
            dialog->reject();
    });
    win.m_panel->m_btnAdd->click();
}

} // namespace korvo::test
