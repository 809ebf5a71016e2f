#include "settings/SettingsFile.hpp"
#include "base/Log.hpp"
#include "module/Keys.hpp"
#include "module/Velkin.hpp"

#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

#include <obs.hpp>

namespace {

constexpr char kBindings[] = "bindings";

} // namespace

QList<QJsonArray> hotkeyBindingsToJson(const QList<obs_hotkey_id> &ids)
{
	// One host data object holds every array, under "bindings" and its position, so that the host writes
	// and Qt parses one JSON text however many hotkeys there are.
	const OBSDataAutoRelease data = obs_data_create();
	for (qsizetype i = 0; i < ids.size(); ++i) {
		const OBSDataArrayAutoRelease array = obs_hotkey_save(ids.at(i));
		if (array) {
			obs_data_set_array(data, (QByteArray(kBindings) + QByteArray::number(i)).constData(), array);
		}
	}
	const QJsonObject object = QJsonDocument::fromJson(QByteArray(obs_data_get_json(data))).object();
	QList<QJsonArray> bindings;
	bindings.reserve(ids.size());
	for (qsizetype i = 0; i < ids.size(); ++i) {
		bindings.append(object.value(QLatin1String(kBindings) + QString::number(i)).toArray());
	}
	return bindings;
}

QJsonArray hotkeyBindingsToJson(obs_hotkey_id id)
{
	return hotkeyBindingsToJson(QList<obs_hotkey_id>{id}).first();
}

void hotkeyBindingsFromJson(obs_hotkey_id id, const QJsonArray &bindings)
{
	const QByteArray json =
		QJsonDocument(QJsonObject{{QLatin1String(kBindings), bindings}}).toJson(QJsonDocument::Compact);
	const OBSDataAutoRelease data = obs_data_create_from_json(json.constData());
	const OBSDataArrayAutoRelease array = obs_data_get_array(data, kBindings);
	if (array) {
		obs_hotkey_load(id, array);
	}
}

void Velkin::readSettings()
{
	settings = QJsonObject();
	// Only a regular file is opened: a FIFO or a device in its place would block the host's start.
	QFile file(settingsPath);
	if (QFileInfo(settingsPath).isFile() && file.open(QIODevice::ReadOnly) &&
	    file.size() <= kMaxSettingsFileBytes) {
		settings = QJsonDocument::fromJson(file.read(file.size())).object();
	}
	last = heldSnapshotPath(settings.value(kSettingsLast).toString());
	snapshotOrder.clear();
	const QJsonArray order = settings.value(kSettingsOrder).toArray();
	for (const QJsonValue &fileName : order) {
		if (fileName.isString()) {
			snapshotOrder.append(fileName.toString());
		}
	}
}

void Velkin::saveSettings()
{
	if (!ensureSnapshotDirectory()) {
		return;
	}

	QList<obs_hotkey_id> ids{cycleHotkeyId, previousHotkeyId, openHotkeyId};
	ids.append(loadHotkeys.values());
	const QList<QJsonArray> bindings = hotkeyBindingsToJson(ids);
	QJsonObject snapshotHotkeys;
	qsizetype next = 3;
	for (auto it = loadHotkeys.cbegin(); it != loadHotkeys.cend(); ++it) {
		snapshotHotkeys.insert(QFileInfo(it.key()).fileName(), bindings.at(next++));
	}
	settings = QJsonObject{
		{kSettingsCycleHotkey, bindings.at(0)},
		{kSettingsPreviousHotkey, bindings.at(1)},
		{kSettingsOpenHotkey, bindings.at(2)},
		{kSettingsSnapshotHotkeys, snapshotHotkeys},
		{kSettingsLast, last},
		{kSettingsOrder, QJsonArray::fromStringList(snapshotOrder)},
	};

	const QByteArray bytes = QJsonDocument(settings).toJson(QJsonDocument::Indented);
	QSaveFile file(settingsPath);
	if (file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit()) {
		return;
	}
	velkinLog(LOG_WARNING, "Could not save settings: %s", file.errorString().toUtf8().constData());
}

void Velkin::onSettingsSaveTimer()
{
	if (ready && !shuttingDown) {
		saveSettings();
	}
}
