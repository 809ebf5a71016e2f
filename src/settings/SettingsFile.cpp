#include "settings/SettingsFile.hpp"
#include "module/Velkin.hpp"

#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

#include <obs.h>

namespace {

const QString kKeyLast = QStringLiteral("last");
const QString kKeyOrder = QStringLiteral("snapshotOrder");
const QString kKeyCycle = QStringLiteral("cycleHotkey");
const QString kKeyPrevious = QStringLiteral("previousHotkey");
const QString kKeyOpen = QStringLiteral("openHotkey");
const QString kKeySnapshotHotkeys = QStringLiteral("snapshotHotkeys");
constexpr char kBindings[] = "bindings";

} // namespace

QJsonArray hotkeyBindingsToJson(obs_hotkey_id id)
{
	obs_data_t *data = obs_data_create();
	obs_data_array_t *array = obs_hotkey_save(id);
	if (array) {
		obs_data_set_array(data, kBindings, array);
	}
	const QJsonDocument document = QJsonDocument::fromJson(QByteArray(obs_data_get_json(data)));
	obs_data_array_release(array);
	obs_data_release(data);
	return document.object().value(QLatin1String(kBindings)).toArray();
}

void hotkeyBindingsFromJson(obs_hotkey_id id, const QJsonArray &bindings)
{
	const QByteArray json =
		QJsonDocument(QJsonObject{{QLatin1String(kBindings), bindings}}).toJson(QJsonDocument::Compact);
	obs_data_t *data = obs_data_create_from_json(json.constData());
	obs_data_array_t *array = obs_data_get_array(data, kBindings);
	if (array) {
		obs_hotkey_load(id, array);
	}
	obs_data_array_release(array);
	obs_data_release(data);
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
	last = settings.value(kKeyLast).toString();
	snapshotOrder.clear();
	const QJsonArray order = settings.value(kKeyOrder).toArray();
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

	QJsonObject snapshotHotkeys;
	for (auto it = loadHotkeys.cbegin(); it != loadHotkeys.cend(); ++it) {
		snapshotHotkeys.insert(QFileInfo(it.key()).fileName(), hotkeyBindingsToJson(it.value()));
	}
	settings = QJsonObject{
		{kKeyCycle, hotkeyBindingsToJson(cycleHotkeyId)},
		{kKeyPrevious, hotkeyBindingsToJson(previousHotkeyId)},
		{kKeyOpen, hotkeyBindingsToJson(openHotkeyId)},
		{kKeySnapshotHotkeys, snapshotHotkeys},
		{kKeyLast, last},
		{kKeyOrder, QJsonArray::fromStringList(snapshotOrder)},
	};

	const QByteArray bytes = QJsonDocument(settings).toJson(QJsonDocument::Indented);
	QSaveFile file(settingsPath);
	if (file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit()) {
		return;
	}
	blog(LOG_WARNING, "[obs-velkin] Could not save settings: %s", file.errorString().toUtf8().constData());
}

void Velkin::onSettingsSaveTimer()
{
	if (ready && !shuttingDown) {
		saveSettings();
	}
}
