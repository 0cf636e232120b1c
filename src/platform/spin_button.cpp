#include "platform/spin_button.h"

#include "platform/spin_button_accessible.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QStyleOptionSpinBox>

namespace {

// A held arrow repeats after a pause, then steadily.
constexpr int kRepeatDelayMs = 400;
constexpr int kRepeatIntervalMs = 100;

} // namespace

int SpinAcceleratedStep(std::chrono::milliseconds held)
{
    using namespace std::chrono_literals;
    if (held >= 5s)
        return 20;
    if (held >= 2s)
        return 5;
    return 1;
}

CSpinButtonCtrl::CSpinButtonCtrl(QWidget* parent) : QWidget(parent)
{
    InstallSpinButtonAccessibility();
    setFocusPolicy(Qt::StrongFocus);
    m_repeat.setSingleShot(true);
    connect(&m_repeat, &QTimer::timeout, this, &CSpinButtonCtrl::OnRepeat);
}

void CSpinButtonCtrl::Step(int direction)
{
    const int step = m_held.isValid() ? SpinAcceleratedStep(std::chrono::milliseconds(m_held.elapsed())) : 1;
    emit deltaPos(direction * step);
}

void CSpinButtonCtrl::OnRepeat()
{
    if (m_nPressed == 0)
        return;
    // A release this control never saw: the button is up all the same.
    if (!(QGuiApplication::mouseButtons() & Qt::LeftButton)) {
        Release();
        return;
    }
    if (m_bOnPressed)
        Step(m_nPressed);
    m_repeat.start(kRepeatIntervalMs);
}

int CSpinButtonCtrl::ArrowAt(QPointF pos) const
{
    if (!rect().contains(pos.toPoint()))
        return 0;
    return pos.y() < height() / 2.0 ? -1 : +1;
}

void CSpinButtonCtrl::Release()
{
    m_nPressed = 0;
    m_bOnPressed = false;
    m_nKeyHeld = 0;
    m_held.invalidate();
    m_repeat.stop();
    update();
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
        if (m_bOnPressed && ((i == 0 && m_nPressed < 0) || (i == 1 && m_nPressed > 0)))
            button.state |= QStyle::State_Sunken;
        else
            button.state |= QStyle::State_Raised;
        style()->drawPrimitive(QStyle::PE_PanelButtonBevel, &button, &p, this);
        QStyleOption arrow;
        arrow.initFrom(this);
        arrow.rect = halves[i].adjusted(1, 1, -1, -1);
        style()->drawPrimitive(i == 0 ? QStyle::PE_IndicatorArrowUp : QStyle::PE_IndicatorArrowDown, &arrow,
                               &p, this);
    }
}

void CSpinButtonCtrl::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton || !isEnabled())
        return;
    m_nPressed = event->position().y() < height() / 2.0 ? -1 : +1;
    m_bOnPressed = true;
    m_held.start();
    update();
    Step(m_nPressed);
    m_repeat.start(kRepeatDelayMs);
}

void CSpinButtonCtrl::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton)
        Release();
}

void CSpinButtonCtrl::mouseMoveEvent(QMouseEvent* event)
{
    // Stepping pauses while the pointer is off the held arrow.
    const bool on = m_nPressed != 0 && ArrowAt(event->position()) == m_nPressed;
    if (on != m_bOnPressed) {
        m_bOnPressed = on;
        update();
    }
}

void CSpinButtonCtrl::keyPressEvent(QKeyEvent* event)
{
    const int direction = event->key() == Qt::Key_Up ? -1 : event->key() == Qt::Key_Down ? +1 : 0;
    if (direction == 0) {
        QWidget::keyPressEvent(event);
        return;
    }
    // The keyboard's own repeat paces a held key; the hold makes the steps larger.
    if (!event->isAutoRepeat() || m_nKeyHeld != direction) {
        m_nKeyHeld = direction;
        m_held.start();
    }
    Step(direction);
}

void CSpinButtonCtrl::keyReleaseEvent(QKeyEvent* event)
{
    if (!event->isAutoRepeat() && (event->key() == Qt::Key_Up || event->key() == Qt::Key_Down)) {
        m_nKeyHeld = 0;
        if (m_nPressed == 0)
            m_held.invalidate();
    }
    QWidget::keyReleaseEvent(event);
}

void CSpinButtonCtrl::focusOutEvent(QFocusEvent* event)
{
    Release();
    QWidget::focusOutEvent(event);
}

void CSpinButtonCtrl::changeEvent(QEvent* event)
{
    // A disabled control, or one whose window has lost its turn to a modal
    // box, lets go of a held arrow.
    if ((event->type() == QEvent::EnabledChange && !isEnabled()) ||
        (event->type() == QEvent::ActivationChange && !isActiveWindow()))
        Release();
    QWidget::changeEvent(event);
}
