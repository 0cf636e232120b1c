#include "platform/dialog_button_accessible.h"

#include "platform/dialog.h"

#include <QAbstractButton>
#include <QAccessibleWidget>
#include <QCheckBox>
#include <QKeySequence>
#include <QRadioButton>

namespace {

// "&Save" reads "Save"; "&&" is a literal ampersand.
QString StripMnemonic(const QString& text)
{
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == QLatin1Char('&')) {
            if (i + 1 < text.size() && text[i + 1] == QLatin1Char('&'))
                out += text[++i];
            continue;
        }
        out += text[i];
    }
    return out;
}

class CDialogButtonAccessible : public QAccessibleWidget
{
public:
    CDialogButtonAccessible(QAbstractButton* button, QAccessible::Role role) : QAccessibleWidget(button, role)
    {
        addControllingSignal(QStringLiteral("toggled(bool)"));
    }

    QAccessible::State state() const override
    {
        QAccessible::State s = QAccessibleWidget::state();
        s.checkable = true;
        s.checked = Button()->isChecked();
        if (const auto* check = qobject_cast<const QCheckBox*>(Button()))
            s.checkStateMixed = check->checkState() == Qt::PartiallyChecked;
        s.pressed = Button()->isDown();
        return s;
    }

    QString text(QAccessible::Text t) const override
    {
        QString str;
        if (t == QAccessible::Name) {
            str = widget()->accessibleName();
            if (str.isEmpty())
                str = StripMnemonic(Button()->text());
        } else if (t == QAccessible::Accelerator) {
            str = QKeySequence::mnemonic(Button()->text()).toString(QKeySequence::NativeText);
        }
        return str.isEmpty() ? QAccessibleWidget::text(t) : str;
    }

    QStringList actionNames() const override
    {
        QStringList names;
        if (widget()->isEnabled()) {
            names << toggleAction();
            if (role() == QAccessible::CheckBox)
                names << pressAction();
        }
        return names + QAccessibleWidget::actionNames();
    }

    void doAction(const QString& name) override
    {
        if (name == toggleAction() || name == pressAction()) {
            // The same path as a click of the mouse or the space bar: the
            // state changes and the dialog is told.
            if (widget()->isEnabled())
                Button()->click();
            return;
        }
        QAccessibleWidget::doAction(name);
    }

private:
    QAbstractButton* Button() const { return static_cast<QAbstractButton*>(widget()); }
};

QAccessibleInterface* DialogButtonFactory(const QString& className, QObject* object)
{
    const bool radio = className == QLatin1String("QRadioButton");
    if (!radio && className != QLatin1String("QCheckBox"))
        return nullptr;
    auto* button = qobject_cast<QAbstractButton*>(object);
    if (!button || !qobject_cast<CDialog*>(button->window()))
        return nullptr;
    return new CDialogButtonAccessible(button, radio ? QAccessible::RadioButton : QAccessible::CheckBox);
}

} // namespace

void InstallDialogButtonAccessibility()
{
    static const bool installed = [] {
        QAccessible::installFactory(DialogButtonFactory);
        return true;
    }();
    (void)installed;
}
