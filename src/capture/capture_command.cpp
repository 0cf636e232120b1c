// The window menu's capture entries.
#include "capture/capture.h"
#include "platform/file_dialog.h"
#include "platform/strings.h"
#include "ui/korvo_dlg.h"

#include <QDir>

namespace {

// The file and filter last chosen, for the life of the process.
QString g_strCapturePath;
int g_nCaptureFilter = 1;

} // namespace

void CKorvoDlg::OnCaptureStart()
{
    if (m_pCapture && m_pCapture->IsRunning())
        return;
    FileDialogRequest request;
    request.open = false;
    request.title = LoadStr(204);
    request.filters = {LoadStr(205), LoadStr(206)};
    request.filterIndex = g_nCaptureFilter;
    request.suffixFromFilter = true;
    request.initialPath =
        g_strCapturePath.isEmpty() ? QDir::homePath() + QStringLiteral("/capture.pcap") : g_strCapturePath;
    request.overwritePrompt = true;
    request.parent = this;
    const FileDialogResult result = RunFileDialog(request);
    if (!result.accepted)
        return;
    g_strCapturePath = result.path;
    g_nCaptureFilter = result.filterIndex;
    if (!m_pCapture)
        m_pCapture = std::make_unique<CCapture>(*this);
    m_pCapture->Start(result.path, CaptureFormatFor(result.path, result.filterIndex));
}

void CKorvoDlg::OnCaptureStop()
{
    if (m_pCapture)
        m_pCapture->Stop();
}
