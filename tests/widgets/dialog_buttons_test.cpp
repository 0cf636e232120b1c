// Check boxes and radio buttons of a dialog built from a template: a click
// reaches the dialog's handler however the user makes it, a state the program
// sets reaches nothing, and the template's radio groups stay apart.
#include "platform/dialog.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAccessible>
#include <QTest>

#include <map>

namespace {

enum : int {
    ID_CHECK = 10,
    ID_A1 = 20,
    ID_A2 = 21,
    ID_B1 = 30,
    ID_B2 = 31,
};

const DialogTemplate& ButtonsTemplate()
{
    static const DialogTemplate tpl{900,
                                    "Buttons",
                                    120,
                                    80,
                                    "MS Shell Dlg",
                                    8,
                                    DS_CAPTION,
                                    {
                                        {ID_CHECK, ControlKind::CheckBox, "&Check", 5, 5, 60, 10},
                                        {ID_A1, ControlKind::RadioButton, "A1", 5, 20, 40, 10, CS_GROUP},
                                        {ID_A2, ControlKind::RadioButton, "A2", 50, 20, 40, 10},
                                        {ID_B1, ControlKind::RadioButton, "B1", 5, 35, 40, 10, CS_GROUP},
                                        {ID_B2, ControlKind::RadioButton, "B2", 50, 35, 40, 10},
                                        {IDOK, ControlKind::DefPushButton, "OK", 5, 60, 40, 14, CS_GROUP},
                                    }};
    return tpl;
}

class ButtonsDlg : public CDialog
{
public:
    ButtonsDlg() : CDialog(ButtonsTemplate())
    {
        for (int id : {ID_CHECK, ID_A1, ID_A2, ID_B1, ID_B2})
            MapCommand(id, [this, id] { ++clicks[id]; });
        Create();
        show();
    }
    std::map<int, int> clicks;
};

QAccessibleInterface* Accessible(const ButtonsDlg& dlg, int id)
{
    return QAccessible::queryAccessibleInterface(dlg.GetDlgItem(id));
}

TEST(DialogButtons, EveryToggleByTheUserIsAClickAndOnlyThose)
{
    ButtonsDlg dlg;
    // Radio buttons say so, though their template groups them, not Qt.
    EXPECT_EQ(QAccessible::RadioButton, Accessible(dlg, ID_B2)->role());
    EXPECT_EQ(QAccessible::CheckBox, Accessible(dlg, ID_CHECK)->role());
    EXPECT_EQ("Check", Accessible(dlg, ID_CHECK)->text(QAccessible::Name));

    dlg.CheckRadioButton(ID_A1, ID_A2, ID_A1);
    dlg.CheckRadioButton(ID_B1, ID_B2, ID_B1);
    dlg.CheckDlgButton(ID_CHECK, true);
    dlg.Item<QAbstractButton>(ID_CHECK)->setChecked(false);
    EXPECT_TRUE(dlg.clicks.empty());

    const auto toggle = [&](int id) {
        Accessible(dlg, id)->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
    };
    toggle(ID_A2);
    toggle(ID_CHECK);
    QTest::mouseClick(dlg.Item<QAbstractButton>(ID_B2), Qt::LeftButton);
    EXPECT_EQ((std::map<int, int>{{ID_A2, 1}, {ID_CHECK, 1}, {ID_B2, 1}}), dlg.clicks);
    // Each group keeps its own choice.
    EXPECT_TRUE(dlg.IsDlgButtonChecked(ID_CHECK));
    EXPECT_FALSE(dlg.IsDlgButtonChecked(ID_A1));
    EXPECT_TRUE(dlg.IsDlgButtonChecked(ID_A2));
    EXPECT_FALSE(dlg.IsDlgButtonChecked(ID_B1));
    EXPECT_TRUE(dlg.IsDlgButtonChecked(ID_B2));

    // A disabled button is toggled by nobody.
    dlg.EnableDlgItem(ID_CHECK, false);
    toggle(ID_CHECK);
    EXPECT_TRUE(dlg.IsDlgButtonChecked(ID_CHECK));
    EXPECT_EQ(1, dlg.clicks[ID_CHECK]);
}

} // namespace
