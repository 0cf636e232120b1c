#pragma once

// The disclaimer documents, generated at build time from res/disclaimer_*.rtf:
// each is an array of lines that, joined in order, give the RTF document; a
// null pointer ends it.
extern const char* const g_rtfKorean[];
extern const char* const g_rtfEnglish[];
extern const char* const g_rtfFrench[];

// No line of a document is longer than this; the generator refuses longer ones.
inline constexpr int RTF_MAX_LINE = 344;
