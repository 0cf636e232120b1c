// The receive pane shows no caret: whenever it gains the focus it is told it
// lost it. It keeps the keyboard focus, so keys still move its hidden caret.
#include "panes/hex_edit.h"
#include "ui/korvo_dlg.h"

void CKorvoDlg::OnSetfocusRicheditRecv()
{
    m_hexRecv->KillFocus();
}
