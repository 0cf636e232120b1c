#pragma once

// Screen readers and UI automation read the terminal as a multi-line text:
// its name is "Terminal", its text what it shows, the caret after the
// newest text. It turns read-only when the peer has gone.

// Registers the accessibility factory for CTelEdit (once per process).
void InstallTelEditAccessibility();
