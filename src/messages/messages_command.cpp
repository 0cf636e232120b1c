// The window menu's Messages entry.
#include "messages/messages_dlg.h"
#include "ui/korvo_dlg.h"

void CKorvoDlg::OnMessages() {}
