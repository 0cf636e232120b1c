// Pane commands of the main dialog: SAVE either pane to a raw file, LOAD the
// send pane from one, CLEAR the receive pane and Apply the data length.
#include "panes/hex_edit.h"
#include "panes/pane_buffer.h"
#include "platform/file_dialog.h"
#include "platform/file_error.h"
#include "platform/message_box.h"
#include "platform/strings.h"
#include "ui/korvo_dlg.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

namespace {

// The path and filter last chosen in any of the three file dialogs, for the
// life of the process. Kept whole, however long.
const QString kFirstPath = QStringLiteral("/*.bin"); // in the home folder
QString g_szLastPath;
int g_nLastFilterIndex = 1;

QString& LastPath()
{
    if (g_szLastPath.isEmpty())
        g_szLastPath = QDir::homePath() + kFirstPath;
    return g_szLastPath;
}

constexpr int kPaneCapacity = PANE_CAPACITY;

FileDialogResult AskForFile(QWidget* parent, bool open)
{
    FileDialogRequest request;
    request.open = open;
    request.title = LoadStr(open ? 111 : 107);
    request.defaultExtension = QStringLiteral("bin");
    request.initialPath = LastPath();
    request.filters = {QStringLiteral("*.bin"), QStringLiteral("*.*")};
    request.filterIndex = g_nLastFilterIndex;
    request.overwritePrompt = true;
    request.parent = parent;
    const FileDialogResult result = RunFileDialog(request);
    if (result.accepted) {
        LastPath() = result.path;
        g_nLastFilterIndex = result.filterIndex;
    }
    return result;
}

// Writes all bytes; false with errno set when the file refuses them.
bool WriteAll(int fd, const std::uint8_t* data, std::size_t size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

// Reads up to `limit` bytes; false with errno set on a read error.
bool ReadUpTo(int fd, std::vector<std::uint8_t>& block, std::size_t limit)
{
    block.resize(limit);
    std::size_t got = 0;
    while (got < limit) {
        const ssize_t n = ::read(fd, block.data() + got, limit - got);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (n == 0)
            break;
        got += static_cast<std::size_t>(n);
    }
    block.resize(got);
    return true;
}

} // namespace

QString CKorvoDlg::LastFilePath()
{
    return LastPath();
}

void CKorvoDlg::ForgetLastFile()
{
    g_szLastPath.clear();
    g_nLastFilterIndex = 1;
}

void CKorvoDlg::OnButtonSaveRecv()
{
    SavePane(*m_hexRecv);
}

void CKorvoDlg::OnButtonSaveSend()
{
    SavePane(*m_hexSend);
}

void CKorvoDlg::SavePane(CHexEdit& pane)
{
    if (pane.m_nLength == 0)
        return;
    if (!AskForFile(this, false).accepted)
        return;

    const QByteArray path = QFile::encodeName(LastPath());
    const int fd = ::open(path.constData(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) {
        AfxMessageBox(QStringLiteral("File Open Error."), MB_OK);
        return;
    }
    const bool written = WriteAll(fd, pane.m_pData, static_cast<std::size_t>(pane.m_nLength));
    const int writeError = errno;
    const bool closed = ::close(fd) == 0;
    if (!written || !closed)
        AfxMessageBox(FileErrorMessage(written ? errno : writeError, LastPath()), MB_OK);
}

void CKorvoDlg::OnButtonLoad()
{
    if (!AskForFile(this, true).accepted)
        return;

    // Read-only is enough to load, so read-only files load too.
    const QByteArray path = QFile::encodeName(LastPath());
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        ShowSystemError(errno);
        return;
    }
    // One byte past the capacity tells that the file is too long; the rest of
    // the file is never read.
    std::vector<std::uint8_t> block;
    const bool read = ReadUpTo(fd, block, kPaneCapacity + 1);
    const int readError = errno;
    ::close(fd);
    if (!read) {
        AfxMessageBox(FileErrorMessage(readError, LastPath()), MB_OK);
        return;
    }
    const int n = static_cast<int>(block.size());
    if (n > kPaneCapacity)
        ShowMessageBox(this, LoadStr(102), m_strTitle, MB_OK | MB_ICONEXCLAMATION);
    m_nDataLength = static_cast<unsigned>(m_hexSend->SetData(n > kPaneCapacity ? kPaneCapacity : n, block.data()));
    UpdateData(false);
}

void CKorvoDlg::SetSendPaneBytes(const QByteArray& bytes)
{
    const int n = static_cast<int>(std::min<qsizetype>(bytes.size(), kPaneCapacity));
    m_nDataLength = static_cast<unsigned>(m_hexSend->SetData(n, bytes.constData()));
    // Only Data Length is written back: what the user typed into the other
    // fields and has not used yet stays as typed.
    SetDlgItemText(IDC_EDIT_DATA_LENGTH, QString::number(m_nDataLength));
}

void CKorvoDlg::OnButtonClear()
{
    m_hexRecv->SetDataLength(0);
    m_nRecvTotal = 0;
    SetReceiveCount(0);
}

void CKorvoDlg::OnButtonResize()
{
    if (!UpdateData(true)) {
        UpdateData(false);
        return;
    }
    if (m_nDataLength == 0)
        return;
    if (m_nDataLength > static_cast<unsigned>(kPaneCapacity)) {
        ShowMessageBox(this, LoadStr(102), m_strTitle, MB_OK | MB_ICONEXCLAMATION);
        m_nDataLength = kPaneCapacity;
    }
    m_nDataLength = static_cast<unsigned>(m_hexSend->SetDataLength(static_cast<int>(m_nDataLength)));
    UpdateData(false);
}
