#pragma once

// CSpinButtonCtrl: a pair of up/down arrows that is not attached to an edit.
// Each press proposes a change (up -1, down +1, as the platform's default
// range has it) through deltaPos; holding an arrow repeats the proposal.
#include <QTimer>
#include <QWidget>

class CSpinButtonCtrl : public QWidget {
    Q_OBJECT

public:
    explicit CSpinButtonCtrl(QWidget* parent = nullptr);

signals:
    void deltaPos(int iDelta);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void Step();

    int m_nPressed = 0; // -1 up arrow held, +1 down arrow held
    QTimer m_repeat;
};
