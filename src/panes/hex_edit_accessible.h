#pragma once

// Screen readers and UI automation read a pane's rendered rows as read-only
// text; the name is the pane's frame caption, set by the dialog.

// Registers the accessibility factory for CHexEdit (once per process).
void InstallHexEditAccessibility();
