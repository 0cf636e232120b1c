#include "progress/text_progress_ctrl.h"

#include "progress/progress_text.h"
#include "progress/text_progress_accessible.h"

#include <QAccessible>
#include <QPainter>

#include <algorithm>

namespace {

const QColor kFilled(0, 0, 128);
const QColor kEmpty(255, 255, 255);

} // namespace

CTextProgressCtrl::CTextProgressCtrl(QWidget* parent) : QProgressBar(parent)
{
    InstallTextProgressAccessibility();
}

CTextProgressCtrl::~CTextProgressCtrl() = default;

void CTextProgressCtrl::SetPos(int nPos)
{
    const QString before = text();
    m_nPos = nPos;
    repaint();
    if (QAccessible::isActive()) {
        QAccessibleValueChangeEvent value(this, m_nPos);
        QAccessible::updateAccessibility(&value);
        if (text() != before) {
            QAccessibleEvent name(this, QAccessible::NameChanged);
            QAccessible::updateAccessibility(&name);
        }
    }
}

void CTextProgressCtrl::GetRange(int& nLower, int& nUpper) const
{
    nLower = minimum();
    nUpper = maximum();
}

void CTextProgressCtrl::SetBorder(bool border)
{
    m_bBorder = border;
    update();
}

QString CTextProgressCtrl::text() const
{
    int lower, upper;
    GetRange(lower, upper);
    return PercentText(ProgressPercent(m_nPos, upper));
}

void CTextProgressCtrl::paintEvent(QPaintEvent*)
{
    QPainter dc(this);
    if (m_bBorder) {
        dc.setPen(palette().color(QPalette::WindowText));
        dc.drawRect(rect().adjusted(0, 0, -1, -1));
        dc.translate(1, 1);
    }
    const int border = m_bBorder ? 1 : 0;
    const QRect client(0, 0, width() - 2 * border, height() - 2 * border);
    dc.setClipRect(client);

    int lower, upper;
    GetRange(lower, upper);
    const float percent = ProgressPercent(m_nPos, upper);
    const QString label = PercentText(percent);
    const int x = SplitColumn(client.width(), percent);

    // Past 100 % the filled part runs beyond the right edge, where the clip
    // cuts it; the empty part is then nothing.
    const QRect filled(0, 0, std::max(x, 0), client.height());
    const QRect empty(x, 0, std::max(client.width() - x, 0), client.height());
    dc.fillRect(filled, kFilled);
    dc.fillRect(empty, kEmpty);

    // The text twice, each pass clipped to one side of the split, so a glyph
    // across the split shows in both colours.
    const int flags = Qt::AlignCenter | Qt::TextSingleLine;
    dc.setPen(kEmpty);
    dc.setClipRect(filled.intersected(client));
    dc.drawText(client, flags, label);
    dc.setPen(kFilled);
    dc.setClipRect(empty.intersected(client));
    dc.drawText(client, flags, label);
}
