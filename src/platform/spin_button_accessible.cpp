#include "platform/spin_button_accessible.h"

#include "platform/spin_button.h"

#include <QAccessibleWidget>

namespace {

class CSpinButtonAccessible : public QAccessibleWidget
{
public:
    explicit CSpinButtonAccessible(CSpinButtonCtrl* spin) : QAccessibleWidget(spin, QAccessible::SpinBox) {}

    QStringList actionNames() const override { return {increaseAction(), decreaseAction()}; }

    void doAction(const QString& actionName) override
    {
        auto* spin = static_cast<CSpinButtonCtrl*>(widget());
        if (!spin->isEnabled())
            return;
        // The up arrow proposes -1, which the owner takes as one more.
        if (actionName == increaseAction())
            emit spin->deltaPos(-1);
        else if (actionName == decreaseAction())
            emit spin->deltaPos(+1);
    }
};

QAccessibleInterface* SpinButtonFactory(const QString& className, QObject* object)
{
    if (className == QLatin1String("CSpinButtonCtrl") && object && object->isWidgetType())
        return new CSpinButtonAccessible(static_cast<CSpinButtonCtrl*>(object));
    return nullptr;
}

} // namespace

void InstallSpinButtonAccessibility()
{
    static const bool installed = [] {
        QAccessible::installFactory(SpinButtonFactory);
        return true;
    }();
    (void)installed;
}
