#include "telnet/tel_edit_accessible.h"

#include "telnet/tel_edit.h"

#include "platform/accessible_factory.h"

#include <QAccessibleWidget>

#include <algorithm>

namespace {

class CTelEditAccessible : public QAccessibleWidget, public QAccessibleTextInterface
{
public:
    explicit CTelEditAccessible(CTelEdit* edit) : QAccessibleWidget(edit, QAccessible::EditableText) {}

    void* interface_cast(QAccessible::InterfaceType type) override
    {
        if (type == QAccessible::TextInterface)
            return static_cast<QAccessibleTextInterface*>(this);
        return QAccessibleWidget::interface_cast(type);
    }

    QAccessible::State state() const override
    {
        QAccessible::State s = QAccessibleWidget::state();
        s.multiLine = true;
        s.editable = true;
        s.readOnly = Edit()->IsReadOnly();
        return s;
    }

    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Value)
            return Edit()->Terminal().Text().toString();
        return QAccessibleWidget::text(t);
    }

    // QAccessibleTextInterface
    void selection(int, int* startOffset, int* endOffset) const override { *startOffset = *endOffset = 0; }
    int selectionCount() const override { return 0; }
    void addSelection(int, int) override {}
    void removeSelection(int) override {}
    void setSelection(int, int, int) override {}
    int cursorPosition() const override { return Edit()->Terminal().Length(); }
    void setCursorPosition(int) override {}
    QString text(int startOffset, int endOffset) const override
    {
        const QStringView all = Edit()->Terminal().Text();
        const int size = static_cast<int>(all.size());
        const int start = std::clamp(startOffset, 0, size);
        const int end = std::clamp(endOffset < 0 ? size : endOffset, start, size);
        return all.mid(start, end - start).toString();
    }
    int characterCount() const override { return Edit()->Terminal().Length(); }
    QRect characterRect(int) const override { return {}; }
    int offsetAtPoint(const QPoint&) const override { return -1; }
    void scrollToSubstring(int, int) override {}
    QString attributes(int offset, int* startOffset, int* endOffset) const override
    {
        *startOffset = *endOffset = offset;
        return {};
    }

private:
    CTelEdit* Edit() const { return static_cast<CTelEdit*>(widget()); }
};

} // namespace

void InstallTelEditAccessibility()
{
    InstallAccessibleFactory<CTelEdit, CTelEditAccessible>();
}
