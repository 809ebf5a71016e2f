#include "module/Keys.hpp"
#include "module/Velkin.hpp"

#include <QFileInfo>
#include <QJsonObject>

namespace {

QString fileNameOf(const QString &path)
{
	return QFileInfo(path).fileName();
}

} // namespace

std::array<SnapshotHolder *, 4> Velkin::snapshotHolders()
{
	return {&automation, &monitors, &undo, &layoutsMenu};
}

void Velkin::moveSnapshotReferences(const QString &oldPath, const QString &newPath)
{
	if (oldPath == newPath) {
		return;
	}
	const QString oldName = fileNameOf(oldPath);
	const QString newName = fileNameOf(newPath);

	// Whatever is still registered or stored under the new name belongs to a file that is gone (deleted outside
	// the plug-in before the list was refreshed): it goes, so that nothing of it survives under the moved file.
	const auto stale = loadHotkeys.find(newPath);
	if (stale != loadHotkeys.end()) {
		obs_hotkey_unregister(stale.value());
		loadHotkeyLabels.remove(stale.value());
		loadHotkeys.erase(stale);
	}
	const auto hotkey = loadHotkeys.find(oldPath);
	if (hotkey != loadHotkeys.end()) {
		const obs_hotkey_id id = hotkey.value();
		loadHotkeys.erase(hotkey);
		loadHotkeys.insert(newPath, id);
	}

	QJsonObject bindings = settings.value(kSettingsSnapshotHotkeys).toObject();
	const QJsonValue moved = bindings.take(oldName);
	bindings.remove(newName);
	if (!moved.isUndefined()) {
		bindings.insert(newName, moved);
	}
	settings.insert(kSettingsSnapshotHotkeys, bindings);

	snapshotOrder.removeAll(newName);
	const qsizetype index = snapshotOrder.indexOf(oldName);
	if (index >= 0) {
		snapshotOrder[index] = newName;
	}
	if (last == oldPath) {
		last = newPath;
	}

	for (SnapshotHolder *holder : snapshotHolders()) {
		holder->snapshotRenamed(oldPath, newPath);
	}
}

void Velkin::forgetSnapshotReferences(const QString &path)
{
	const QString fileName = fileNameOf(path);
	const auto hotkey = loadHotkeys.find(path);
	if (hotkey != loadHotkeys.end()) {
		obs_hotkey_unregister(hotkey.value());
		loadHotkeyLabels.remove(hotkey.value());
		loadHotkeys.erase(hotkey);
	}

	QJsonObject bindings = settings.value(kSettingsSnapshotHotkeys).toObject();
	bindings.remove(fileName);
	settings.insert(kSettingsSnapshotHotkeys, bindings);

	snapshotOrder.removeAll(fileName);

	for (SnapshotHolder *holder : snapshotHolders()) {
		holder->snapshotDeleted(path);
	}
}
