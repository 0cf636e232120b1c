#pragma once

// The real main dialog, created modeless offscreen, driven through its
// controls, with message boxes recorded instead of shown.
#include "ui/korvo_dlg.h"

#include "support/message_boxes.h"
#include "support/wait.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>

#include <memory>
#include <vector>

namespace korvo::test {

class SessionTest : public testing::Test
{
protected:
    void SetUp() override
    {
        dlg = std::make_unique<CKorvoDlg>();
        ASSERT_TRUE(dlg->Create());
        QObject::connect(dlg->m_editStatus, &QLineEdit::textChanged,
                         [this](const QString& text) { statuses.push_back(text); });
    }
    void TearDown() override { dlg.reset(); }

    void SetMode(int mode)
    {
        dlg->m_comboMode->setCurrentIndex(mode);
        dlg->SendCommand(IDC_COMBO_MODE, CBN_SELCHANGE);
    }
    void SetFields(const QString& remote, unsigned remotePort, unsigned localPort)
    {
        dlg->SetDlgItemText(IDC_EDIT_REMOTE_IP, remote);
        dlg->SetDlgItemText(IDC_EDIT_REMOTE_PORT, QString::number(remotePort));
        dlg->SetDlgItemText(IDC_EDIT_LOCAL_PORT, QString::number(localPort));
    }
    // Clicks like a user: a disabled button does nothing.
    void Click(int id) { dlg->Item<QPushButton>(id)->click(); }
    bool Enabled(int id) const { return dlg->GetDlgItem(id)->isEnabled(); }
    QString Status() const { return dlg->m_editStatus->text(); }
    bool WaitStatus(const QString& text) const
    {
        return WaitUntil([&] { return Status() == text; });
    }

    MessageBoxes boxes;
    std::unique_ptr<CKorvoDlg> dlg;
    std::vector<QString> statuses;
};

inline int IntOption(int fd, int level, int name)
{
    int value = -1;
    socklen_t length = sizeof value;
    if (getsockopt(fd, level, name, &value, &length) != 0)
        return -1;
    return value;
}

} // namespace korvo::test
