#pragma once

// Screen readers see the text progress bar as a progress bar named by the
// percentage it shows, whose value is its position against the upper bound.

// Registers the accessibility factory for CTextProgressCtrl (once per process).
void InstallTextProgressAccessibility();
