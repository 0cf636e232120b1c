#include "panes/hex_edit.h"

CHexEdit::CHexEdit(QWidget* parent) : QAbstractScrollArea(parent) {}
