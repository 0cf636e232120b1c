#include "telnet/tel_edit.h"

#include "platform/async_socket.h"
#include "telnet/tel_edit_accessible.h"
#include "telnet/telnet_keys.h"

#include <QAccessible>
#include <QApplication>
#include <QFontMetricsF>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QPainter>
#include <QScrollBar>

#include <algorithm>
#include <cerrno>
#include <cmath>

namespace {

constexpr int kMargin = 2;
// About sixty frames a second at most.
constexpr qint64 kSyncIntervalMs = 16;

bool IsBlank(char32_t c)
{
    switch (QChar::category(c)) {
    case QChar::Other_Control:
    case QChar::Other_Format:
    case QChar::Separator_Line:
    case QChar::Separator_Paragraph:
        return true;
    default:
        return false;
    }
}

} // namespace

CTelEdit::CTelEdit(QWidget* parent) : QAbstractScrollArea(parent), m_engine(*this, *this)
{
    InstallTelEditAccessibility();
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_InputMethodEnabled);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setContextMenuPolicy(Qt::NoContextMenu);
    setAccessibleName(QStringLiteral("Terminal"));
    viewport()->setCursor(Qt::IBeamCursor);
    viewport()->setBackgroundRole(QPalette::Base);
    m_syncTimer.setSingleShot(true);
    connect(&m_syncTimer, &QTimer::timeout, this, &CTelEdit::SyncView);
    MeasureFont();
}

CTelEdit::~CTelEdit() = default;

void CTelEdit::BeginSession(CAsyncSocket* socket, int remotePort)
{
    m_pSocket = socket;
    m_engine.BeginSession(remotePort);
}

int CTelEdit::OnReceiveData(CAsyncSocket& socket)
{
    const int n = socket.Receive(m_engine.ReadBuffer(), TELNET_READ_CHUNK);
    if (n < 0) {
        const int error = errno;
        // An event that finds nothing to read is no failure.
        if (error != EAGAIN && error != EWOULDBLOCK)
            return error;
        m_engine.Process(m_engine.ReadBuffer(), 0);
        return 0;
    }
    // Raw, IAC sequences and all, before the engine's answers to them.
    if (m_pTaps && n > 0)
        m_pTaps->Received(m_engine.ReadBuffer(), n, nullptr);
    m_engine.Process(m_engine.ReadBuffer(), n);
    return 0;
}

void CTelEdit::OnConnectionClosed()
{
    m_engine.OnConnectionClosed();
}

void CTelEdit::SendNop()
{
    m_engine.SendNop();
}

void CTelEdit::ResetTerminal(RxNewline rx, TxNewline tx)
{
    const QString before = QAccessible::isActive() ? m_text.Text().toString() : QString();
    m_text.Clear();
    m_bReadOnly = false;
    m_engine.ResetInput();
    m_engine.m_nRxNewline = rx;
    m_engine.m_nTxNewline = tx;
    m_bFollow = true;
    SyncView();
    if (QAccessible::isActive()) {
        // A text update carries its texts; a bare one trips Qt's checks.
        QAccessibleTextUpdateEvent changed(this, 0, before, QString());
        QAccessible::updateAccessibility(&changed);
    }
}

void CTelEdit::OnChar(char32_t c)
{
    // The peer has gone: nothing typed is shown or sent any more.
    if (m_bReadOnly)
        return;
    m_engine.OnChar(c);
}

void CTelEdit::InsertText(const char* text, int length)
{
    if (length <= 0)
        return;
    if (m_text.CaretInsideWide() && QAccessible::isActive()) {
        // Written over half a wide character, the text may change before
        // its end too.
        const QString before = m_text.Text().toString();
        m_text.Append(text, length);
        QAccessibleTextUpdateEvent updated(this, 0, before, m_text.Text().toString());
        QAccessible::updateAccessibility(&updated);
        OnTextChanged();
        return;
    }
    const int before = m_text.Length();
    m_text.Append(text, length);
    if (QAccessible::isActive() && m_text.Length() != before) {
        QAccessibleTextInsertEvent inserted(this, before, m_text.Text().mid(before).toString());
        QAccessible::updateAccessibility(&inserted);
    }
    OnTextChanged();
}

void CTelEdit::EraseBeforeCaret()
{
    Erase(&TerminalText::EraseLast);
}

void CTelEdit::EraseCellBeforeCaret()
{
    Erase(&TerminalText::BackCell);
}

void CTelEdit::Erase(void (TerminalText::*erase)())
{
    if (!QAccessible::isActive()) {
        (m_text.*erase)();
        OnTextChanged();
        return;
    }
    // Bytes held back as the start of a character may show before the erase,
    // so screen readers get the text as it was and as it is.
    const QString before = m_text.Text().toString();
    (m_text.*erase)();
    const QString after = m_text.Text().toString();
    if (after != before) {
        QAccessibleTextUpdateEvent updated(this, 0, before, after);
        QAccessible::updateAccessibility(&updated);
    }
    OnTextChanged();
}

void CTelEdit::TrimHead(int count)
{
    const int before = m_text.Length();
    QString removed;
    if (QAccessible::isActive())
        removed = m_text.Text().left(std::min(count + 1, before)).toString();
    m_text.TrimHead(count);
    if (QAccessible::isActive()) {
        removed.truncate(before - m_text.Length());
        QAccessibleTextRemoveEvent event(this, 0, removed);
        QAccessible::updateAccessibility(&event);
    }
    OnTextChanged();
}

void CTelEdit::SetReadOnly()
{
    m_bReadOnly = true;
    viewport()->update();
    if (QAccessible::isActive()) {
        QAccessible::State changed;
        changed.readOnly = true;
        changed.editable = true;
        QAccessibleStateChangeEvent event(this, changed);
        QAccessible::updateAccessibility(&event);
    }
}

void CTelEdit::Beep()
{
    QApplication::beep();
}

void CTelEdit::Send(const void* data, int length)
{
    // Answers, typed characters and NOP alike: sent once, the result not
    // looked at. After the peer has gone the socket is closed and they vanish.
    if (!m_pSocket || !m_pSocket->IsOpen())
        return;
    const int sent = m_pSocket->Send(data, length);
    if (m_pTaps && sent > 0)
        m_pTaps->Sent(static_cast<const std::uint8_t*>(data), sent, nullptr);
}

void CTelEdit::OnTextChanged()
{
    m_bFollow = true;
    if (m_syncTimer.isActive())
        return;
    const qint64 since = m_lastSync.isValid() ? m_lastSync.elapsed() : kSyncIntervalMs;
    if (since >= kSyncIntervalMs)
        SyncView();
    else
        m_syncTimer.start(static_cast<int>(kSyncIntervalMs - since));
}

void CTelEdit::SyncView()
{
    m_syncTimer.stop();
    m_lastSync.start();
    QScrollBar* bar = verticalScrollBar();
    const int visible = VisibleRows();
    bar->setRange(0, std::max(0, m_text.Rows() - visible));
    bar->setPageStep(visible);
    bar->setSingleStep(1);
    // Like the caret scrolled into view: new text brings the view down.
    if (m_bFollow)
        bar->setValue(bar->maximum());
    m_bFollow = false;
    viewport()->update();
    if (QAccessible::isActive()) {
        QAccessibleTextCursorEvent cursor(this, m_text.Length());
        QAccessible::updateAccessibility(&cursor);
    }
}

int CTelEdit::VisibleRows() const
{
    return std::max(1, viewport()->height() / std::max(m_nLineHeight, 1));
}

int CTelEdit::TopRow() const
{
    const int bottom = std::max(0, m_text.Rows() - VisibleRows());
    return m_bFollow ? bottom : std::clamp(verticalScrollBar()->value(), 0, bottom);
}

void CTelEdit::MeasureFont()
{
    const QFontMetricsF metrics(font());
    const QString sample(16, QLatin1Char('M'));
    m_fCellWidth = std::max<qreal>(metrics.horizontalAdvance(sample) / sample.size(), 1);
    m_nLineHeight = std::max(1, static_cast<int>(std::ceil(metrics.lineSpacing())));
    m_nAscent = static_cast<int>(std::ceil(metrics.ascent()));
    const int columns = static_cast<int>((viewport()->width() - 2 * kMargin) / m_fCellWidth);
    m_text.SetColumns(std::max(columns, 1));
}

void CTelEdit::resizeEvent(QResizeEvent* event)
{
    QAbstractScrollArea::resizeEvent(event);
    MeasureFont();
    m_bFollow = true;
    SyncView();
}

void CTelEdit::changeEvent(QEvent* event)
{
    QAbstractScrollArea::changeEvent(event);
    if (event->type() == QEvent::FontChange) {
        MeasureFont();
        m_bFollow = true;
        SyncView();
    }
}

void CTelEdit::scrollContentsBy(int, int)
{
    viewport()->update();
}

void CTelEdit::paintEvent(QPaintEvent* event)
{
    QPainter painter(viewport());
    painter.setFont(font());
    painter.setPen(palette().color(QPalette::Text));
    const QRect area = event->rect();
    const int firstRow = std::max(area.top() / m_nLineHeight, 0);
    const int lastRow = std::min(area.bottom() / m_nLineHeight, VisibleRows());
    const int top = TopRow();
    m_spans.resize(static_cast<std::size_t>(lastRow - firstRow + 1));
    const int n = m_text.RowSpans(top + firstRow, lastRow - firstRow + 1, m_spans.data());
    for (int i = 0; i < n; ++i)
        DrawRow(painter, m_spans[static_cast<std::size_t>(i)], (firstRow + i) * m_nLineHeight + m_nAscent);
    if (hasFocus() && !m_bReadOnly)
        painter.fillRect(CaretRect(), palette().color(QPalette::Text));
}

void CTelEdit::DrawRow(QPainter& painter, TerminalText::Span span, int y)
{
    // Runs of ordinary characters are drawn whole; tabs, wide and invisible
    // characters are placed cell by cell.
    const QStringView text = m_text.Text().mid(span.start, span.length);
    const int columns = m_text.Columns();
    int col = 0;
    int runStart = 0;
    int runCol = 0;
    auto flush = [&](int end) {
        if (end > runStart)
            painter.drawText(QPointF(kMargin + runCol * m_fCellWidth, y),
                             text.mid(runStart, end - runStart).toString());
    };
    const auto decode = [&text](int i, int* length) {
        *length = 1;
        if (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            *length = 2;
            return QChar::surrogateToUcs4(text[i], text[i + 1]);
        }
        return static_cast<char32_t>(text[i].unicode());
    };
    for (int i = 0; i < text.size();) {
        int length;
        const char32_t c = decode(i, &length);
        const int width =
            c == '\t' ? TerminalText::TabWidth(col, columns) : std::min(TerminalText::CellWidth(c), columns);
        // Combining marks are drawn with the character they are on.
        int cell = length;
        for (int next; i + cell < text.size();) {
            const char32_t mark = decode(i + cell, &next);
            if (mark == '\t' || TerminalText::CellWidth(mark) != 0)
                break;
            cell += next;
        }
        const bool plain = width == 1 && length == 1 && c != '\t' && !IsBlank(c);
        if (!plain) {
            flush(i);
            if (c != '\t' && !IsBlank(c))
                painter.drawText(QPointF(kMargin + col * m_fCellWidth, y), text.mid(i, cell).toString());
            runStart = i + cell;
            runCol = col + width;
        }
        col += width;
        i += cell;
    }
    flush(static_cast<int>(text.size()));
}

QRect CTelEdit::CaretRect() const
{
    const int row = m_text.Rows() - 1 - TopRow();
    const int x = kMargin + static_cast<int>(std::lround(m_text.CaretColumn() * m_fCellWidth));
    return QRect(std::min(x, viewport()->width() - 1), row * m_nLineHeight, 1, m_nLineHeight);
}

void CTelEdit::keyPressEvent(QKeyEvent* event)
{
    const bool tab = event->key() == Qt::Key_Tab || event->key() == Qt::Key_Backtab;
    if (tab && (event->modifiers() & Qt::ControlModifier)) {
        // Tab is the terminal's; Ctrl+Tab leaves it, as in other text editors.
        QAbstractScrollArea::focusNextPrevChild(event->key() == Qt::Key_Tab &&
                                                !(event->modifiers() & Qt::ShiftModifier));
        return;
    }
    for (const char32_t c :
         TelnetKeyChars(event->key(), event->modifiers(), event->text(), event->nativeVirtualKey()))
        OnChar(c);
    // Every other key stops here, so no key reaches the dialog's Enter and Esc.
    event->accept();
}

bool CTelEdit::focusNextPrevChild(bool next)
{
    // Tab types a tab; Shift+Tab still goes back to the controls above.
    return next ? false : QAbstractScrollArea::focusNextPrevChild(false);
}

void CTelEdit::inputMethodEvent(QInputMethodEvent* event)
{
    for (const char32_t c : TelnetKeyChars(Qt::Key_unknown, Qt::NoModifier, event->commitString()))
        OnChar(c);
    event->accept();
}

QVariant CTelEdit::inputMethodQuery(Qt::InputMethodQuery query) const
{
    switch (query) {
    case Qt::ImEnabled:
        return true;
    case Qt::ImCursorRectangle:
        return CaretRect().translated(viewport()->pos());
    default:
        return QAbstractScrollArea::inputMethodQuery(query);
    }
}

void CTelEdit::mousePressEvent(QMouseEvent* event)
{
    // A click only takes the focus: the caret stays after the newest text.
    setFocus(Qt::MouseFocusReason);
    event->accept();
}

void CTelEdit::mouseReleaseEvent(QMouseEvent* event)
{
    setFocus(Qt::MouseFocusReason);
    event->accept();
}

void CTelEdit::mouseDoubleClickEvent(QMouseEvent* event)
{
    setFocus(Qt::MouseFocusReason);
    event->accept();
}

void CTelEdit::mouseMoveEvent(QMouseEvent* event)
{
    event->accept();
}

void CTelEdit::focusInEvent(QFocusEvent* event)
{
    QAbstractScrollArea::focusInEvent(event);
    viewport()->update();
}

void CTelEdit::focusOutEvent(QFocusEvent* event)
{
    QAbstractScrollArea::focusOutEvent(event);
    viewport()->update();
}
