#include "platform/dialog_combo_accessible.h"

#include "platform/dialog.h"

#include <QAbstractItemView>
#include <QAccessibleWidget>
#include <QComboBox>

namespace {

class CDialogComboAccessible : public QAccessibleWidget
{
public:
    explicit CDialogComboAccessible(QComboBox* combo) : QAccessibleWidget(combo, QAccessible::ComboBox)
    {
        addControllingSignal(QStringLiteral("currentIndexChanged(int)"));
    }

    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Value || (t == QAccessible::Name && widget()->accessibleName().isEmpty()))
            return Combo()->currentText();
        return QAccessibleWidget::text(t);
    }

    // The list that drops down, as Qt's own combo box offers it.
    int childCount() const override { return Combo()->view() ? 1 : 0; }
    QAccessibleInterface* child(int index) const override
    {
        return index == 0 && Combo()->view() ? QAccessible::queryAccessibleInterface(Combo()->view())
                                             : nullptr;
    }
    int indexOfChild(const QAccessibleInterface* child) const override
    {
        return child && child->object() == Combo()->view() ? 0 : -1;
    }

    QAccessible::State state() const override
    {
        QAccessible::State s = QAccessibleWidget::state();
        s.hasPopup = true;
        s.expanded = Combo()->view() && Combo()->view()->isVisible();
        s.collapsed = !s.expanded;
        return s;
    }

    QStringList actionNames() const override
    {
        return QStringList{showMenuAction(), pressAction()} + QAccessibleWidget::actionNames();
    }
    void doAction(const QString& name) override
    {
        if (name == showMenuAction() || name == pressAction()) {
            if (Combo()->view() && Combo()->view()->isVisible())
                Combo()->hidePopup();
            else if (widget()->isEnabled())
                Combo()->showPopup();
            return;
        }
        QAccessibleWidget::doAction(name);
    }

private:
    QComboBox* Combo() const { return static_cast<QComboBox*>(widget()); }
};

QAccessibleInterface* DialogComboFactory(const QString& className, QObject* object)
{
    if (className != QLatin1String("QComboBox"))
        return nullptr;
    auto* combo = qobject_cast<QComboBox*>(object);
    if (!combo || combo->isEditable() || !qobject_cast<CDialog*>(combo->window()))
        return nullptr;
    return new CDialogComboAccessible(combo);
}

} // namespace

void InstallDialogComboAccessibility()
{
    static const bool installed = [] {
        QAccessible::installFactory(DialogComboFactory);
        return true;
    }();
    (void)installed;
}
