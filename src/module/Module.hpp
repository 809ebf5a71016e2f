#pragma once

#include "module/Version.hpp"

#include <QString>

#include <obs-module.h>

constexpr char kModuleName[] = "OBS-Velkin";
constexpr char kModuleDescription[] = "Save and restore OBS dock layout snapshots.";
constexpr char kModuleAuthor[] = "The OBS-Velkin developers";
constexpr char kDefaultLocale[] = "en-US";
constexpr char kSettingsFileName[] = "settings.json";
constexpr char kSnapshotDirectoryName[] = "snapshots";

// The handle the host gave this module, or null before obs_module_set_pointer.
obs_module_t *velkinModule();

// Writes one line to OBS's log with the plug-in's "[obs-velkin] " prefix; printf-style.
#ifdef __GNUC__
__attribute__((format(printf, 2, 3)))
#endif
void velkinLog(int level, const char *format, ...);

// The locale text for a key, or the key itself when the locale has none (or no locale is loaded).
QString localeText(const char *key);
