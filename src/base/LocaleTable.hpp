#pragma once

// The module's hold on the texts that localeText reads: the table of the locale that OBS asked for.
#include <util/text-lookup.h>

// Takes `table` (null for none) in place of the one held, which is destroyed.
void setLocaleTable(lookup_t *table);
// Looks a key up in the table held; false when it has no text for it.
bool lookUpLocaleText(const char *key, const char **out);
