#include "panes/hex_edit_accessible.h"

#include "panes/hex_edit.h"

#include "platform/accessible_factory.h"

#include <QAccessibleWidget>

#include <algorithm>

namespace {

class CHexEditAccessible : public QAccessibleWidget, public QAccessibleTextInterface
{
public:
    explicit CHexEditAccessible(CHexEdit* pane) : QAccessibleWidget(pane, QAccessible::EditableText) {}

    void* interface_cast(QAccessible::InterfaceType type) override
    {
        if (type == QAccessible::TextInterface)
            return static_cast<QAccessibleTextInterface*>(this);
        return QAccessibleWidget::interface_cast(type);
    }

    QAccessible::State state() const override
    {
        QAccessible::State s = QAccessibleWidget::state();
        s.readOnly = true;
        s.editable = false;
        s.multiLine = true;
        return s;
    }

    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Value)
            return Pane()->RenderedText();
        return QAccessibleWidget::text(t);
    }

    // QAccessibleTextInterface
    void selection(int, int* startOffset, int* endOffset) const override { *startOffset = *endOffset = 0; }
    int selectionCount() const override { return 0; }
    void addSelection(int, int) override {}
    void removeSelection(int) override {}
    void setSelection(int, int, int) override {}
    int cursorPosition() const override { return Pane()->GetCaret(); }
    void setCursorPosition(int) override {}
    QString text(int startOffset, int endOffset) const override
    {
        const QString all = Pane()->RenderedText();
        const int start = std::clamp(startOffset, 0, static_cast<int>(all.size()));
        const int end = std::clamp(endOffset < 0 ? static_cast<int>(all.size()) : endOffset, start,
                                   static_cast<int>(all.size()));
        return all.mid(start, end - start);
    }
    int characterCount() const override { return Pane()->Surface().Length(); }
    QRect characterRect(int offset) const override
    {
        const CHexEdit* pane = Pane();
        const QPoint topLeft = pane->PointAt(offset);
        const QPoint right = pane->PointAt(offset + 1);
        const int height = std::max(pane->m_nLineHeight, 1);
        const QPoint global = pane->viewport()->mapToGlobal(topLeft);
        return QRect(global, QSize(std::max(right.x() - topLeft.x(), 1), height));
    }
    int offsetAtPoint(const QPoint& point) const override
    {
        const CHexEdit* pane = Pane();
        return pane->PositionAt(pane->viewport()->mapFromGlobal(point));
    }
    void scrollToSubstring(int, int) override {}
    QString attributes(int offset, int* startOffset, int* endOffset) const override
    {
        *startOffset = *endOffset = offset;
        return {};
    }

private:
    CHexEdit* Pane() const { return static_cast<CHexEdit*>(widget()); }
};

} // namespace

void InstallHexEditAccessibility()
{
    InstallAccessibleFactory<CHexEdit, CHexEditAccessible>();
}
