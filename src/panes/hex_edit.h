#pragma once

// CHexEdit: the control behind both data panes. The pane itself (bytes,
// rendering, caret rules) is HexPane; this widget paints its rendered rows
// in the widget's font, turns Qt's keys, characters, clicks, wheel and
// scroll-bar actions into the pane's operations, and keeps the bar in step.
#include "panes/hex_pane.h"

#include <QAbstractScrollArea>
#include <QElapsedTimer>
#include <QFont>
#include <QList>
#include <QPointF>
#include <QRawFont>
#include <QString>
#include <QTimer>

#include <array>

class CHexEdit : public QAbstractScrollArea, public HexPane
{
    Q_OBJECT

public:
    explicit CHexEdit(QWidget* parent = nullptr);
    ~CHexEdit() override;

    // Clears the pane and measures the view in the current font.
    void InitView();
    // The caret disappears while the keyboard focus stays: keys still edit
    // the pane. Lasts until the pane loses the focus.
    void KillFocus();
    bool IsCaretShown() const;

    // Geometry of the rendered text, in viewport pixels.
    int PositionAt(QPoint point) const;
    QPoint PointAt(int pos) const;
    // The rendered rows as text, line breaks included.
    QString RenderedText() const;

signals:
    // The pane gained the input focus (the dialog's set-focus notification).
    void focusGained();

protected:
    void OnViewChanged() override;

    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void changeEvent(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    bool focusNextPrevChild(bool next) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;

private:
    void OnScrollAction(int action);
    void SyncScrollBar();
    void MeasureFont();
    int ViewHeight() const;
    void NotifyAccessibility();
    void ScheduleRepaint();

    QRawFont m_rawFont;
    // Glyph of each ASCII character in the display font (0: none).
    std::array<quint32, 128> m_glyphs{};
    QList<quint32> m_runGlyphs;
    QList<QPointF> m_runPositions;
    qreal m_fCharWidth = 8;
    int m_nAscent = 0;
    int m_nPressPos = -1;
    int m_nWheelDelta = 0;
    bool m_bViewReady = false;
    bool m_bSyncing = false;
    bool m_bCaretHidden = false;
    QString m_strAccessibleText;
    // A stream of appends repaints at most once per interval; the rows are
    // always current, only their painting waits.
    QElapsedTimer m_lastPaint;
    QTimer m_repaintTimer;
};
