// The window menu's capture entries.
#include "capture/capture.h"
#include "ui/korvo_dlg.h"

void CKorvoDlg::OnCaptureStart() {}

void CKorvoDlg::OnCaptureStop() {}
