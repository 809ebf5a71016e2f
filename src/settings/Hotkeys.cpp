#include "base/Log.hpp"
#include "module/Keys.hpp"
#include "module/Velkin.hpp"
#include "settings/SettingsFile.hpp"

#include <QFileInfo>
#include <QJsonObject>
#include <QMainWindow>

#include <obs.h>

namespace {

constexpr char kCycleName[] = "obs-velkin.cycle";
constexpr char kPreviousName[] = "obs-velkin.previous";
constexpr char kOpenName[] = "obs-velkin.open";
constexpr char kLoadPrefix[] = "obs-velkin.load.";
constexpr char kBindingsSignal[] = "hotkey_bindings_changed";

struct HotkeyRename {
	obs_hotkey_id id;
	QByteArray name;
	QByteArray description;
};

void renameHotkey(void *data)
{
	const auto *rename = static_cast<const HotkeyRename *>(data);
	obs_hotkey_set_name(rename->id, rename->name.constData());
	obs_hotkey_set_description(rename->id, rename->description.constData());
}

} // namespace

void Velkin::hotkeyCallback(void *data, obs_hotkey_id id, obs_hotkey_t *, bool pressed)
{
	// Runs on a host thread: touch nothing of the controller, only post the press to its thread.
	if (!pressed) {
		return;
	}
	auto *velkin = static_cast<Velkin *>(data);
	QMetaObject::invokeMethod(
		velkin, [velkin, id] { velkin->dispatchHotkey(id); }, Qt::QueuedConnection);
}

void Velkin::onBindingsChanged(void *data, calldata_t *callData)
{
	obs_hotkey_t *key = nullptr;
	calldata_get_data(callData, "key", &key, sizeof(key));
	if (!key) {
		return;
	}
	const obs_hotkey_id id = obs_hotkey_get_id(key);
	auto *velkin = static_cast<Velkin *>(data);
	QMetaObject::invokeMethod(
		velkin, [velkin, id] { velkin->noteBindingsChanged(id); }, Qt::QueuedConnection);
}

void Velkin::registerGlobalHotkeys()
{
	cycleHotkeyId = obs_hotkey_register_frontend(kCycleName, localeText("CycleHotkey").toUtf8().constData(),
						     hotkeyCallback, this);
	previousHotkeyId = obs_hotkey_register_frontend(
		kPreviousName, localeText("PreviousHotkey").toUtf8().constData(), hotkeyCallback, this);
	openHotkeyId = obs_hotkey_register_frontend(kOpenName, localeText("OpenHotkey").toUtf8().constData(),
						    hotkeyCallback, this);
	hotkeyBindingsFromJson(cycleHotkeyId, settings.value(kSettingsCycleHotkey).toArray());
	hotkeyBindingsFromJson(previousHotkeyId, settings.value(kSettingsPreviousHotkey).toArray());
	hotkeyBindingsFromJson(openHotkeyId, settings.value(kSettingsOpenHotkey).toArray());
	// Undo is no snapshot hotkey of settings.json: its bindings live with the automation rules.
	undo.registerHotkey(hotkeyCallback, this, automation.undoBindings());
}

void Velkin::unregisterHotkeys()
{
	obs_hotkey_unregister(cycleHotkeyId);
	obs_hotkey_unregister(previousHotkeyId);
	obs_hotkey_unregister(openHotkeyId);
	undo.unregisterHotkey();
	for (auto it = loadHotkeys.cbegin(); it != loadHotkeys.cend(); ++it) {
		obs_hotkey_unregister(it.value());
	}
	loadHotkeys.clear();
	loadHotkeyLabels.clear();
}

void Velkin::connectBindingsSignal()
{
	signal_handler_connect(obs_get_signal_handler(), kBindingsSignal, onBindingsChanged, this);
}

void Velkin::disconnectBindingsSignal()
{
	signal_handler_disconnect(obs_get_signal_handler(), kBindingsSignal, onBindingsChanged, this);
}

void Velkin::dispatchHotkey(obs_hotkey_id id)
{
	if (!ready || shuttingDown) {
		return;
	}
	if (id == openHotkeyId) {
		// The loads pressed before come first, as they would one by one.
		applyPressedLoad();
		showManagerDialog();
	} else if (id == cycleHotkeyId) {
		cycleSnapshot(+1);
	} else if (id == previousHotkeyId) {
		cycleSnapshot(-1);
	} else if (id == undo.hotkey()) {
		applyPressedLoad();
		undo.undo();
	} else {
		for (auto it = loadHotkeys.cbegin(); it != loadHotkeys.cend(); ++it) {
			if (it.value() == id) {
				pressLoad(it.key());
				return;
			}
		}
	}
}

void Velkin::registerLoadHotkey(const QString &path, const QString &displayName)
{
	const QString fileName = QFileInfo(path).fileName();
	const QByteArray name = QByteArray(kLoadPrefix) + fileName.toUtf8();
	const QByteArray description = localeText("LoadHotkey").arg(displayName).toUtf8();

	const QByteArray label = name + '\n' + description;
	const auto existing = loadHotkeys.constFind(path);
	if (existing != loadHotkeys.cend()) {
		QByteArray &given = loadHotkeyLabels[existing.value()];
		if (given != label) {
			HotkeyRename rename{existing.value(), name, description};
			obs_hotkey_update_atomic(renameHotkey, &rename);
			given = label;
		}
		return;
	}
	const obs_hotkey_id id =
		obs_hotkey_register_frontend(name.constData(), description.constData(), hotkeyCallback, this);
	if (id == OBS_INVALID_HOTKEY_ID) {
		velkinLog(LOG_WARNING, "Could not register snapshot hotkey: %s", name.constData());
		return;
	}
	loadHotkeys.insert(path, id);
	loadHotkeyLabels.insert(id, label);
	hotkeyBindingsFromJson(id, settings.value(kSettingsSnapshotHotkeys).toObject().value(fileName).toArray());
}

void Velkin::pruneLoadHotkeys(const QSet<QString> &listedPaths)
{
	for (auto it = loadHotkeys.begin(); it != loadHotkeys.end();) {
		if (listedPaths.contains(it.key())) {
			++it;
		} else {
			obs_hotkey_unregister(it.value());
			loadHotkeyLabels.remove(it.value());
			it = loadHotkeys.erase(it);
		}
	}
}

void Velkin::noteBindingsChanged(obs_hotkey_id id)
{
	if (!ready || shuttingDown) {
		return;
	}
	if (id == undo.hotkey()) {
		automation.save();
		return;
	}
	const bool ours = id == cycleHotkeyId || id == previousHotkeyId || id == openHotkeyId ||
			  std::find(loadHotkeys.cbegin(), loadHotkeys.cend(), id) != loadHotkeys.cend();
	if (ours) {
		settingsSaveTimer.start(kSettingsSaveDelayMs);
	}
}
