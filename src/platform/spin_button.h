#pragma once

// CSpinButtonCtrl: a pair of up/down arrows that is not attached to an edit.
// Each press proposes a change through deltaPos: the up arrow -1 and the down
// arrow +1, as the platform's default range has it. Holding an arrow (with the
// mouse, or the Up/Down key while the control has the focus) repeats the
// proposal and makes the steps larger the longer it is held. A held arrow
// pauses while the pointer is off it, and lets go once the button is up,
// even where the release went to another window (a message box), or when the
// control loses the focus or its window is no longer active.
#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>

#include <chrono>

// The size of one step after an arrow has been held for `held`: 1, then 5
// after two seconds, then 20 after five.
int SpinAcceleratedStep(std::chrono::milliseconds held);

class CSpinButtonCtrl : public QWidget
{
    Q_OBJECT

public:
    explicit CSpinButtonCtrl(QWidget* parent = nullptr);

signals:
    void deltaPos(int iDelta);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    // Proposes one step in `direction` (-1 up, +1 down), sized by how long
    // the arrow has been held.
    void Step(int direction);
    void OnRepeat();
    void Release();

    // The arrow under a point: -1 up, +1 down, 0 off the control.
    int ArrowAt(QPointF pos) const;

    int m_nPressed = 0; // -1 up arrow held, +1 down arrow held (mouse)
    bool m_bOnPressed = false; // the pointer is over the held arrow
    int m_nKeyHeld = 0; // the same for the arrow keys
    QElapsedTimer m_held;
    QTimer m_repeat;
};
