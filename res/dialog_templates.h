#pragma once

#include "platform/dialog_template.h"

#include "resource.h"

const DialogTemplate& AboutDialogTemplate();  // 100
const DialogTemplate& KorvoDialogTemplate();  // 102
const DialogTemplate& TelnetDialogTemplate(); // 129
const DialogTemplate& SendDialogTemplate();   // 131
const DialogTemplate& AgreementDialogTemplate(); // 132
