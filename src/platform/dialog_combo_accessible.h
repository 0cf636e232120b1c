#pragma once

// How the combo boxes of a dialog present themselves to screen readers: named
// by the name the dialog gives them (the label beside them), with the chosen
// item as their value and their text. Qt's own interface names a combo box by
// its current item on this platform, so "Send" and "Receive" would both read
// as "Don't Convert".
void InstallDialogComboAccessibility();
