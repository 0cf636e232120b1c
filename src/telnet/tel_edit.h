#pragma once

// CTelEdit: the Telnet window's terminal. It owns the Telnet engine, shows
// its text (TerminalText, painted row by row, newest text at the bottom)
// and turns keys into the engine's characters. The caret always stays after
// the newest text: clicks only take the focus, cursor keys do nothing.
//
// A flood of text repaints at most about sixty times a second; the text and
// its row count are always current, only the painting waits.
#include "net/session_tap.h"
#include "telnet/telnet_engine.h"
#include "telnet/terminal_text.h"

#include <QAbstractScrollArea>
#include <QElapsedTimer>
#include <QTimer>

#include <vector>

class CAsyncSocket;

class CTelEdit : public QAbstractScrollArea, public TelnetDisplay, public TelnetSink
{
    Q_OBJECT

public:
    explicit CTelEdit(QWidget* parent = nullptr);
    ~CTelEdit() override;

    // A session on a connected socket (not owned); for port 23 the opening
    // requests go out at once.
    void BeginSession(CAsyncSocket* socket, int remotePort);
    // Where the session's raw bytes are reported, both ways (may be null).
    void SetTaps(SessionTaps* taps) { m_pTaps = taps; }
    // Reads at most one block from the socket and shows it. Returns 0, or the
    // error of a failed read, which the caller reports.
    int OnReceiveData(CAsyncSocket& socket);
    void OnConnectionClosed();
    void SendNop();
    // A new window: empty, editable, the given conversions, line mode off and
    // no typed line pending.
    void ResetTerminal(RxNewline rx, TxNewline tx);
    void OnChar(char32_t c);

    int RemotePort() const { return m_engine.m_nRemotePort; }
    TelnetEngine& Engine() { return m_engine; }
    const TerminalText& Terminal() const { return m_text; }
    bool IsReadOnly() const { return m_bReadOnly; }
    // The row at the top of the view.
    int TopRow() const;
    int VisibleRows() const;

    CAsyncSocket* m_pSocket = nullptr;
    SessionTaps* m_pTaps = nullptr;

    // TelnetDisplay
    void InsertText(const char* text, int length) override;
    void EraseBeforeCaret() override;
    void EraseCellBeforeCaret() override;
    int LineCount() const override { return m_text.Rows(); }
    void TrimHead(int count) override;
    void SetReadOnly() override;
    void Beep() override;

    // TelnetSink
    void Send(const void* data, int length) override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void inputMethodEvent(QInputMethodEvent* event) override;
    QVariant inputMethodQuery(Qt::InputMethodQuery query) const override;
    bool focusNextPrevChild(bool next) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;

private:
    void MeasureFont();
    void Erase(void (TerminalText::*erase)());
    void OnTextChanged();
    void SyncView();
    void DrawRow(QPainter& painter, TerminalText::Span span, int y);
    QRect CaretRect() const;

    TerminalText m_text;
    TelnetEngine m_engine;
    bool m_bReadOnly = false;
    qreal m_fCellWidth = 8;
    int m_nLineHeight = 16;
    int m_nAscent = 12;
    // The view follows the newest text once the next sync runs.
    bool m_bFollow = true;
    QElapsedTimer m_lastSync;
    QTimer m_syncTimer;
    std::vector<TerminalText::Span> m_spans;
};
