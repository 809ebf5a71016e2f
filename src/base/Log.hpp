#pragma once

// What every part of the plug-in may use: OBS's log with the plug-in's prefix, and the locale's texts. Neither
// depends on the module or the controller.
#include <QString>

// Writes one line to OBS's log with the plug-in's "[obs-velkin] " prefix; printf-style.
#ifdef __GNUC__
__attribute__((format(printf, 2, 3)))
#endif
void velkinLog(int level, const char *format, ...);

// The locale text for a key, or the key itself when the locale has none (or no locale is loaded).
QString localeText(const char *key);
