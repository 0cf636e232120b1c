#include "progress/text_progress_accessible.h"

#include "progress/text_progress_ctrl.h"

#include "platform/accessible_factory.h"

#include <QAccessibleWidget>

namespace {

class CTextProgressAccessible : public QAccessibleWidget, public QAccessibleValueInterface
{
public:
    explicit CTextProgressAccessible(CTextProgressCtrl* bar)
        : QAccessibleWidget(bar, QAccessible::ProgressBar)
    {
    }

    void* interface_cast(QAccessible::InterfaceType type) override
    {
        if (type == QAccessible::ValueInterface)
            return static_cast<QAccessibleValueInterface*>(this);
        return QAccessibleWidget::interface_cast(type);
    }

    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Name || t == QAccessible::Value)
            return Bar()->text();
        return QAccessibleWidget::text(t);
    }

    // QAccessibleValueInterface: read-only, 0 to the upper bound.
    QVariant currentValue() const override { return Bar()->GetPos(); }
    void setCurrentValue(const QVariant&) override {}
    QVariant maximumValue() const override { return Bar()->maximum(); }
    QVariant minimumValue() const override { return 0; }
    QVariant minimumStepSize() const override { return 0; }

private:
    CTextProgressCtrl* Bar() const { return static_cast<CTextProgressCtrl*>(widget()); }
};

} // namespace

void InstallTextProgressAccessibility()
{
    InstallAccessibleFactory<CTextProgressCtrl, CTextProgressAccessible>();
}
