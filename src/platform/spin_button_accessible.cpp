#include "platform/spin_button_accessible.h"

#include "platform/spin_button.h"

#include "platform/accessible_factory.h"

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

} // namespace

void InstallSpinButtonAccessibility()
{
    InstallAccessibleFactory<CSpinButtonCtrl, CSpinButtonAccessible>();
}
