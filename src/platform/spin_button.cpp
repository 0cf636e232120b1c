#include "platform/spin_button.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QStyleOptionSpinBox>

CSpinButtonCtrl::CSpinButtonCtrl(QWidget* parent) : QWidget(parent)
{
    setFocusPolicy(Qt::StrongFocus);
    m_repeat.setInterval(100);
    connect(&m_repeat, &QTimer::timeout, this, &CSpinButtonCtrl::Step);
}

void CSpinButtonCtrl::Step()
{
    if (m_nPressed != 0)
        emit deltaPos(m_nPressed);
}

void CSpinButtonCtrl::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    const int half = height() / 2;
    const QRect halves[2] = {QRect(0, 0, width(), half), QRect(0, half, width(), height() - half)};
    for (int i = 0; i < 2; ++i) {
        QStyleOptionButton button;
        button.initFrom(this);
        button.rect = halves[i];
        if ((i == 0 && m_nPressed < 0) || (i == 1 && m_nPressed > 0))
            button.state |= QStyle::State_Sunken;
        else
            button.state |= QStyle::State_Raised;
        style()->drawPrimitive(QStyle::PE_PanelButtonBevel, &button, &p, this);
        QStyleOption arrow;
        arrow.initFrom(this);
        arrow.rect = halves[i].adjusted(1, 1, -1, -1);
        style()->drawPrimitive(i == 0 ? QStyle::PE_IndicatorArrowUp : QStyle::PE_IndicatorArrowDown, &arrow, &p, this);
    }
}

void CSpinButtonCtrl::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton || !isEnabled())
        return;
    m_nPressed = event->position().y() < height() / 2.0 ? -1 : +1;
    update();
    Step();
    m_repeat.start(400);
}

void CSpinButtonCtrl::mouseReleaseEvent(QMouseEvent*)
{
    m_nPressed = 0;
    m_repeat.stop();
    update();
}

void CSpinButtonCtrl::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Up)
        emit deltaPos(-1);
    else if (event->key() == Qt::Key_Down)
        emit deltaPos(+1);
    else
        QWidget::keyPressEvent(event);
}
