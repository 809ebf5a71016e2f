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
