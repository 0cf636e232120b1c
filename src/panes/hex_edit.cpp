#include "panes/hex_edit.h"

#include "panes/hex_edit_accessible.h"

#include <QAccessible>
#include <QApplication>
#include <QFontMetricsF>
#include <QGlyphRun>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

namespace {

// Room left of the offset column, as the platform's text control keeps.
constexpr int kLeftMargin = 2;

} // namespace

CHexEdit::CHexEdit(QWidget* parent) : QAbstractScrollArea(parent)
{
    InstallHexEditAccessibility();
    setFocusPolicy(Qt::StrongFocus);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    viewport()->setCursor(Qt::IBeamCursor);
    viewport()->setBackgroundRole(QPalette::Base);
    QScrollBar* bar = verticalScrollBar();
    bar->setEnabled(false);
    connect(bar, &QAbstractSlider::actionTriggered, this, &CHexEdit::OnScrollAction);
    // The wheel over the bar scrolls by lines, as over the text.
    bar->installEventFilter(this);
    MeasureFont();
    m_repaintTimer.setSingleShot(true);
    connect(&m_repaintTimer, &QTimer::timeout, viewport(), qOverload<>(&QWidget::update));
}

CHexEdit::~CHexEdit() = default;

void CHexEdit::MeasureFont()
{
    // Every character is drawn at its own column of the grid that clicks and
    // the caret use, whatever advance the font gives it (some give 0x7F none).
    // The pitch is the font's average over a row of digits; a row wider than
    // the view is drawn a little tighter rather than cut off at the right.
    const QString row(HEX_ROW_CHARS - 1, QLatin1Char('0'));
    const QFontMetricsF metrics(font());
    m_fCharWidth = metrics.horizontalAdvance(row) / (HEX_ROW_CHARS - 1);
    const qreal room = (viewport()->width() - 2 * kLeftMargin) / qreal(HEX_ROW_CHARS - 1);
    if (room > 1 && m_fCharWidth > room)
        m_fCharWidth = room;
    if (m_fCharWidth <= 0)
        m_fCharWidth = 1;
    m_nAscent = static_cast<int>(std::ceil(metrics.ascent()));

    m_rawFont = QRawFont::fromFont(font());
    m_glyphs.fill(0);
    if (m_rawFont.isValid()) {
        // The rows hold only ASCII: offsets, digits, bars and the text column.
        for (unsigned c = 0x21; c < m_glyphs.size(); ++c) {
            const QList<quint32> glyph = m_rawFont.glyphIndexesForString(QString(QChar(c)));
            m_glyphs[c] = glyph.isEmpty() ? 0 : glyph.front();
        }
    }
}

int CHexEdit::ViewHeight() const
{
    return contentsRect().height();
}

void CHexEdit::InitView()
{
    MeasureFont();
    m_bViewReady = true;
    HexPane::InitView(QFontMetrics(font()).lineSpacing(), ViewHeight());
}

void CHexEdit::changeEvent(QEvent* event)
{
    QAbstractScrollArea::changeEvent(event);
    if (event->type() == QEvent::FontChange) {
        MeasureFont();
        if (m_bViewReady)
            SetViewMetrics(QFontMetrics(font()).lineSpacing(), ViewHeight());
        viewport()->update();
    }
}

void CHexEdit::resizeEvent(QResizeEvent* event)
{
    QAbstractScrollArea::resizeEvent(event);
    MeasureFont();
    if (m_bViewReady)
        SetViewMetrics(m_nLineHeight, ViewHeight());
}

void CHexEdit::KillFocus()
{
    m_bCaretHidden = true;
    viewport()->update();
}

bool CHexEdit::IsCaretShown() const
{
    return hasFocus() && !m_bCaretHidden;
}

QString CHexEdit::RenderedText() const
{
    const std::string_view text = Surface().Text();
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

void CHexEdit::OnViewChanged()
{
    SyncScrollBar();
    ScheduleRepaint();
    if (QAccessible::isActive())
        NotifyAccessibility();
}

void CHexEdit::ScheduleRepaint()
{
    // About sixty frames a second at most: fast enough for the eye, and a peer
    // that floods the pane spends its time receiving rather than painting.
    constexpr qint64 kRepaintIntervalMs = 16;
    if (m_repaintTimer.isActive())
        return;
    const qint64 since = m_lastPaint.isValid() ? m_lastPaint.elapsed() : kRepaintIntervalMs;
    if (since >= kRepaintIntervalMs)
        viewport()->update();
    else
        m_repaintTimer.start(static_cast<int>(kRepaintIntervalMs - since));
}

void CHexEdit::NotifyAccessibility()
{
    const QString text = RenderedText();
    if (text != m_strAccessibleText) {
        QAccessibleTextUpdateEvent update(this, 0, m_strAccessibleText, text);
        m_strAccessibleText = text;
        QAccessible::updateAccessibility(&update);
    }
    QAccessibleTextCursorEvent cursor(this, GetCaret());
    QAccessible::updateAccessibility(&cursor);
}

void CHexEdit::SyncScrollBar()
{
    const PaneScrollInfo& info = ScrollInfo();
    QScrollBar* bar = verticalScrollBar();
    m_bSyncing = true;
    bar->setRange(0, std::max(0, info.nMax + 1 - info.nPage));
    bar->setPageStep(std::max(info.nPage, 1));
    bar->setSingleStep(1);
    bar->setValue(info.nPos);
    // Shown disabled, never hidden, when everything fits.
    bar->setEnabled(info.bEnabled);
    m_bSyncing = false;
}

void CHexEdit::OnScrollAction(int action)
{
    if (m_bSyncing)
        return;
    QScrollBar* bar = verticalScrollBar();
    int code = SB_ENDSCROLL;
    switch (action) {
    case QAbstractSlider::SliderSingleStepSub:
        code = SB_LINEUP;
        break;
    case QAbstractSlider::SliderSingleStepAdd:
        code = SB_LINEDOWN;
        break;
    case QAbstractSlider::SliderPageStepSub:
        code = SB_PAGEUP;
        break;
    case QAbstractSlider::SliderPageStepAdd:
        code = SB_PAGEDOWN;
        break;
    case QAbstractSlider::SliderToMinimum:
        code = SB_TOP;
        break;
    case QAbstractSlider::SliderToMaximum:
        code = SB_BOTTOM;
        break;
    case QAbstractSlider::SliderMove:
        code = SB_THUMBTRACK;
        break;
    default:
        break;
    }
    OnVScroll(code, bar->sliderPosition());
    // The bar shows the pane's position, not the one it computed itself.
    m_bSyncing = true;
    bar->setSliderPosition(ScrollInfo().nPos);
    m_bSyncing = false;
}

void CHexEdit::scrollContentsBy(int, int)
{
    // The pane re-renders its rows on every scroll; nothing to shift.
}

void CHexEdit::wheelEvent(QWheelEvent* event)
{
    m_nWheelDelta += event->angleDelta().y();
    const int notches = m_nWheelDelta / 120;
    m_nWheelDelta -= notches * 120;
    const int lines = std::abs(notches) * std::max(QApplication::wheelScrollLines(), 1);
    for (int i = 0; i < lines; ++i)
        OnVScroll(notches > 0 ? SB_LINEUP : SB_LINEDOWN);
    event->accept();
}

bool CHexEdit::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == verticalScrollBar() && event->type() == QEvent::Wheel) {
        wheelEvent(static_cast<QWheelEvent*>(event));
        return true;
    }
    return QAbstractScrollArea::eventFilter(watched, event);
}

int CHexEdit::PositionAt(QPoint point) const
{
    const TextSurface& text = Surface();
    const int rows = text.Rows();
    if (rows == 0)
        return 0;
    const int lineHeight = std::max(m_nLineHeight, 1);
    const int row = std::clamp(point.y() / lineHeight - (point.y() < 0 ? 1 : 0), 0, rows - 1);
    // The caret goes before a line break, or after the last row's end.
    const int rowLength = static_cast<int>(text.Row(row).size());
    const int maxCol = rowLength == HEX_ROW_CHARS ? HEX_COL_TEXT_STOP : rowLength;
    const int col = static_cast<int>(std::floor((point.x() - kLeftMargin) / m_fCharWidth + 0.5));
    return row * HEX_ROW_CHARS + std::clamp(col, 0, maxCol);
}

QPoint CHexEdit::PointAt(int pos) const
{
    const int row = pos / HEX_ROW_CHARS;
    const int col = pos % HEX_ROW_CHARS;
    return {kLeftMargin + static_cast<int>(std::lround(col * m_fCharWidth)),
            row * std::max(m_nLineHeight, 1)};
}

void CHexEdit::paintEvent(QPaintEvent* event)
{
    m_lastPaint.start();
    QPainter painter(viewport());
    painter.setPen(palette().color(QPalette::Text));
    const TextSurface& text = Surface();
    const int lineHeight = std::max(m_nLineHeight, 1);
    const QRect area = event->rect();
    const int firstRow = std::max(area.top() / lineHeight, 0);
    const int lastRow = std::min(area.bottom() / lineHeight, text.Rows() - 1);
    // All exposed rows in one run of glyphs, each placed in its cell.
    m_runGlyphs.clear();
    m_runPositions.clear();
    for (int r = firstRow; r <= lastRow; ++r) {
        const std::string_view row = text.Row(r);
        // Everything before the line break.
        const int n = static_cast<int>(std::min<std::size_t>(row.size(), HEX_COL_TEXT_STOP));
        for (int col = 0; col < n; ++col) {
            const auto c = static_cast<unsigned char>(row[col]);
            if (c == ' ' || c >= m_glyphs.size())
                continue;
            m_runGlyphs.push_back(m_glyphs[c]);
            m_runPositions.push_back(QPointF(col * m_fCharWidth, r * lineHeight));
        }
    }
    if (!m_runGlyphs.isEmpty() && m_rawFont.isValid()) {
        QGlyphRun run;
        run.setRawFont(m_rawFont);
        run.setGlyphIndexes(m_runGlyphs);
        run.setPositions(m_runPositions);
        painter.drawGlyphRun(QPointF(kLeftMargin, m_nAscent), run);
    }
    if (IsCaretShown()) {
        const QPoint at = PointAt(GetCaret());
        painter.fillRect(QRect(at.x(), at.y(), 1, lineHeight), palette().color(QPalette::Text));
    }
}

bool CHexEdit::focusNextPrevChild(bool)
{
    // Tab is a key of the pane (it switches sides); Ctrl+Tab leaves it.
    return false;
}

void CHexEdit::keyPressEvent(QKeyEvent* event)
{
    const Qt::KeyboardModifiers mods = event->modifiers();
    // Keypad arrows (Num Lock off) arrive as the same keys with the keypad flag.
    const bool cursorBlock = !(mods & Qt::KeypadModifier);
    auto cursorKey = [&](PaneKey key) {
        if (cursorBlock)
            OnKeyDown(key);
    };
    switch (event->key()) {
    case Qt::Key_Up:
        cursorKey(PaneKey::Up);
        break;
    case Qt::Key_Down:
        cursorKey(PaneKey::Down);
        break;
    case Qt::Key_Left:
        cursorKey(PaneKey::Left);
        break;
    case Qt::Key_Right:
        cursorKey(PaneKey::Right);
        break;
    case Qt::Key_PageUp:
        cursorKey(PaneKey::PageUp);
        break;
    case Qt::Key_PageDown:
        cursorKey(PaneKey::PageDown);
        break;
    case Qt::Key_Home:
    case Qt::Key_End:
    case Qt::Key_Insert:
    case Qt::Key_Delete:
        break;
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
        if (mods & Qt::ControlModifier) {
            const bool forward = event->key() == Qt::Key_Tab && !(mods & Qt::ShiftModifier);
            QAbstractScrollArea::focusNextPrevChild(forward);
        } else {
            OnChar(9);
        }
        break;
    case Qt::Key_Backspace:
        OnChar(8);
        break;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        // Enter does nothing in a pane, and never reaches the default button.
        OnChar(13);
        break;
    case Qt::Key_Escape:
        event->ignore();
        return;
    default: {
        const QString text = event->text();
        if (text.isEmpty() || (mods & Qt::AltModifier)) {
            event->ignore();
            return;
        }
        for (const QChar ch : text)
            OnChar(ch.unicode());
        break;
    }
    }
    event->accept();
}

void CHexEdit::keyReleaseEvent(QKeyEvent* event)
{
    event->accept();
}

void CHexEdit::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        event->ignore();
        return;
    }
    m_nPressPos = PositionAt(event->position().toPoint());
    SetCaret(m_nPressPos);
    event->accept();
}

void CHexEdit::mouseDoubleClickEvent(QMouseEvent* event)
{
    mousePressEvent(event);
}

void CHexEdit::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        event->ignore();
        return;
    }
    // A drag selects from its start; editing uses the selection's start.
    int pos = PositionAt(event->position().toPoint());
    if (m_nPressPos >= 0)
        pos = std::min(pos, m_nPressPos);
    m_nPressPos = -1;
    OnLButtonUp(pos);
    event->accept();
}

void CHexEdit::focusInEvent(QFocusEvent* event)
{
    QAbstractScrollArea::focusInEvent(event);
    m_bCaretHidden = false;
    viewport()->update();
    emit focusGained();
}

void CHexEdit::focusOutEvent(QFocusEvent* event)
{
    QAbstractScrollArea::focusOutEvent(event);
    m_bCaretHidden = false;
    viewport()->update();
}
