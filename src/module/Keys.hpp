#pragma once

#include <QString>

// Names that several files share: the keys of settings.json and the data roles of the snapshot list's items.

inline const QString kSettingsLast = QStringLiteral("last");
inline const QString kSettingsOrder = QStringLiteral("snapshotOrder");
inline const QString kSettingsCycleHotkey = QStringLiteral("cycleHotkey");
inline const QString kSettingsPreviousHotkey = QStringLiteral("previousHotkey");
inline const QString kSettingsOpenHotkey = QStringLiteral("openHotkey");
inline const QString kSettingsSnapshotHotkeys = QStringLiteral("snapshotHotkeys");

// A list item's absolute snapshot file path, its modification time as the row shows it ("yyyy-MM-dd HH:mm"), and
// the short names of the events that load it automatically.
constexpr int kPathRole = Qt::UserRole;
constexpr int kModifiedRole = Qt::UserRole + 1;
constexpr int kRulesRole = Qt::UserRole + 2;
