#pragma once

#include <QJsonArray>
#include <QList>

#include <obs.h>

constexpr qint64 kMaxSettingsFileBytes = 4194304;
constexpr int kSettingsSaveDelayMs = 100;

// The bindings of a hotkey as the host saves them, as a JSON array (empty when the host has none).
QJsonArray hotkeyBindingsToJson(obs_hotkey_id id);
// The same for several hotkeys at once, in their order.
QList<QJsonArray> hotkeyBindingsToJson(const QList<obs_hotkey_id> &ids);

// Hands a stored binding array back to the host for the hotkey; an empty array clears its bindings.
void hotkeyBindingsFromJson(obs_hotkey_id id, const QJsonArray &bindings);
