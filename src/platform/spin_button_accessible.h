#pragma once

// Screen readers see the up-down arrows as a spin button whose increase and
// decrease actions do what the up and down arrows do.

// Registers the accessibility factory for CSpinButtonCtrl (once per process).
void InstallSpinButtonAccessibility();
