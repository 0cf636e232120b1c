#pragma once

// CTextProgressCtrl: a progress bar that paints itself, navy up to the
// current fraction and white after it, with the percentage across the middle
// in the opposite colour on each side of the split. The range lives in the
// underlying bar (setRange); the position lives here only, unclamped, and is
// never handed to the underlying bar.
#include <QProgressBar>

class CTextProgressCtrl : public QProgressBar
{
    Q_OBJECT

public:
    explicit CTextProgressCtrl(QWidget* parent = nullptr);
    ~CTextProgressCtrl() override;

    // Takes the position and repaints the bar before returning.
    void SetPos(int nPos);
    int GetPos() const { return m_nPos; }
    void GetRange(int& nLower, int& nUpper) const;
    // A one-pixel frame around the client area, as a bordered control has.
    void SetBorder(bool border);

    // The percentage as painted.
    QString text() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int m_nPos = 0;
    bool m_bBorder = false;
};
