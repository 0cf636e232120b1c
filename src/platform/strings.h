#pragma once

// Captions and messages by string id, from the table of the active language.
#include "platform/language.h"

#include <QString>

// The text of `id` in the active table; empty for an id no table holds.
QString LoadStr(int id);
QString LoadStr(int id, UiLanguage language);

// The active table's language. It is read from the environment on first use;
// tests and callers that change the environment can re-read it.
UiLanguage ActiveStringLanguage();
void ReloadStringLanguageFromEnvironment();
