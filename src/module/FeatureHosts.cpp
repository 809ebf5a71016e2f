// What the controller answers its feature objects, through the hosts they declare.
#include "module/Velkin.hpp"
#include "store/SnapshotCatalogue.hpp"
#include "store/SnapshotFolder.hpp"

#include <QMainWindow>

bool Velkin::isActive() const
{
	return ready && !shuttingDown;
}

bool Velkin::isShuttingDown() const
{
	return shuttingDown;
}

QMainWindow *Velkin::window() const
{
	return mainWindow;
}

QString Velkin::lastSnapshot() const
{
	return last;
}

QList<SnapshotEntry> Velkin::catalogue() const
{
	return scanSnapshots(snapshotDirectory, snapshotOrder);
}

QList<SnapshotEntry> Velkin::catalogueOf(const SnapshotFolder &looked) const
{
	return scanSnapshots(looked, snapshotOrder);
}

QString Velkin::snapshotFolder() const
{
	return snapshotDirectory;
}

obs_hotkey_id Velkin::loadHotkeyOf(const QString &path) const
{
	return loadHotkeys.value(path, OBS_INVALID_HOTKEY_ID);
}

bool Velkin::canUndo() const
{
	return !undo.isEmpty();
}

LoadResult Velkin::undoLastLoad()
{
	return undo.undo();
}

QStringList Velkin::ruleEventNames(const QString &fileName) const
{
	QStringList names;
	for (const AutomationEvent event : automation.rulesOf(fileName)) {
		names.append(QLatin1String(automationEventName(event)));
	}
	return names;
}

std::optional<QJsonArray> Velkin::undoHotkeyBindings() const
{
	return undo.hotkeyBindings();
}

void Velkin::rememberForUndo(const LayoutMemento &before)
{
	undo.rememberDockChange(before);
}

bool Velkin::keepsLayout() const
{
	return keeper.enabled();
}

void Velkin::setKeepsLayout(bool enabled)
{
	keeper.setEnabled(enabled);
}
