#include "platform/dialog_combo_accessible.h"

#include "platform/dialog.h"

#include <QAbstractItemView>
#include <QAccessibleWidget>
#include <QComboBox>

#include <algorithm>
#include <memory>

namespace {

// The chosen item is also the combo box's text: screen readers read a combo
// box's value from its text (or from a selection this platform's bridge does
// not carry), while its name stays the label's.
class CDialogComboAccessible : public QAccessibleWidget, public QAccessibleTextInterface
{
public:
    explicit CDialogComboAccessible(QComboBox* combo) : QAccessibleWidget(combo, QAccessible::ComboBox)
    {
        addControllingSignal(QStringLiteral("currentIndexChanged(int)"));
        auto shown = std::make_shared<QString>(combo->currentText());
        QObject::connect(combo, &QComboBox::currentTextChanged, combo, [combo, shown](const QString& now) {
            if (QAccessible::isActive() && now != *shown) {
                QAccessibleTextUpdateEvent changed(combo, 0, *shown, now);
                QAccessible::updateAccessibility(&changed);
            }
            *shown = now;
        });
    }

    void* interface_cast(QAccessible::InterfaceType type) override
    {
        if (type == QAccessible::TextInterface)
            return static_cast<QAccessibleTextInterface*>(this);
        return QAccessibleWidget::interface_cast(type);
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

    // QAccessibleTextInterface: the chosen item, read-only.
    void selection(int, int* startOffset, int* endOffset) const override { *startOffset = *endOffset = 0; }
    int selectionCount() const override { return 0; }
    void addSelection(int, int) override {}
    void removeSelection(int) override {}
    void setSelection(int, int, int) override {}
    int cursorPosition() const override { return 0; }
    void setCursorPosition(int) override {}
    QString text(int startOffset, int endOffset) const override
    {
        const QString all = Combo()->currentText();
        const int size = static_cast<int>(all.size());
        const int start = std::clamp(startOffset, 0, size);
        const int end = std::clamp(endOffset < 0 ? size : endOffset, start, size);
        return all.mid(start, end - start);
    }
    int characterCount() const override { return static_cast<int>(Combo()->currentText().size()); }
    QRect characterRect(int) const override { return {}; }
    int offsetAtPoint(const QPoint&) const override { return -1; }
    void scrollToSubstring(int, int) override {}
    QString attributes(int offset, int* startOffset, int* endOffset) const override
    {
        *startOffset = *endOffset = offset;
        return {};
    }

private:
    QComboBox* Combo() const { return static_cast<QComboBox*>(widget()); }
};

QAccessibleInterface* DialogComboFactory(const QString& className, QObject* object)
{
    if (className != QLatin1String("QComboBox"))
        return nullptr;
    auto* combo = qobject_cast<QComboBox*>(object);
    // A combo box of a dialog of ours, or one given a name of its own (the
    // label of a form row beside it).
    if (!combo || combo->isEditable() ||
        (!qobject_cast<CDialog*>(combo->window()) && combo->accessibleName().isEmpty()))
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
