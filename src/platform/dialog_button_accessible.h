#pragma once

// How the check boxes and radio buttons of a dialog present themselves to
// screen readers and UI automation: a radio button by its own role, whatever
// groups it, and a toggle asked for through the accessibility interface taken
// as the user's click, so the dialog hears it as one (BN_CLICKED).
void InstallDialogButtonAccessibility();
