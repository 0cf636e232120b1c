// The window menu's Automatic Replies entry.
#include "replies/replies_dlg.h"
#include "ui/korvo_dlg.h"

void CKorvoDlg::OnReplies() {}
