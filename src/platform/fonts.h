#pragma once

// The two fonts every window of the program owns, and the rule that picks one
// by the system's default language.
#include <QFont>

class QWidget;

// "굴림체", 13 logical units high.
QFont CreateKoreanFont();
// "Courier New", 14 logical units high.
QFont CreateDefaultFont();
// The Korean font on a Korean system, the default font otherwise.
QFont FontForSystemLanguage(const QFont& korean, const QFont& fallback);

// Gives the font to every control below `root`, however deep.
void SendFontToDescendants(QWidget* root, const QFont& font);

// Maps the faces the program asks for onto installed fonts where the face
// itself is missing (a Korean monospace font for "굴림체", a sans face for
// "MS Shell Dlg"). Called once at start-up.
void InstallFontSubstitutions();
