#include "base/Log.hpp"
#include "module/Keys.hpp"
#include "module/Velkin.hpp"
#include "operations/ApplyLayout.hpp"
#include "operations/LayoutCapture.hpp"
#include "operations/LayoutRecord.hpp"
#include "operations/OperationGuard.hpp"
#include "settings/SettingsFile.hpp"
#include "store/SnapshotDocument.hpp"

#include <QFileInfo>
#include <QJsonObject>
#include <QListWidget>
#include <QMainWindow>

namespace {

// Nobody watches an automatic or a remote load: it never asks and never shows a box.
bool unattended(LoadSource source)
{
	return source == LoadSource::Automation || source == LoadSource::Remote || source == LoadSource::Monitors ||
	       source == LoadSource::Kept;
}

// A kept layout as a record to apply; the kept layout of now doubles as the way back when the window refuses.
SnapshotData layoutOf(const LayoutMemento &memento)
{
	SnapshotData data;
	data.geometry = memento.geometry;
	data.state = memento.state;
	return data;
}

} // namespace

LoadResult Velkin::loadSnapshot(const QString &path, LoadSource source, QStringList *missingDocksOut)
{
	if (path.isEmpty()) {
		return LoadResult::NotStarted;
	}
	const OperationGuard guard(*this);
	if (!guard) {
		return LoadResult::NotStarted;
	}

	SnapshotData data;
	if (readSnapshotFile(path, data) != SnapshotIoResult::Ok) {
		reportLoadFailure(source, "ReadFailed", path);
		return LoadResult::ReadFailed;
	}
	const QStringList missing = missingDocks(mainWindow, data);
	if (missingDocksOut) {
		*missingDocksOut = missing;
	}
	if (!missing.isEmpty()) {
		const QString names = missing.join(QStringLiteral(", "));
		if (unattended(source) || remote.reportsQuiet()) {
			// Nobody to ask: the docks that are not there stay as they are.
			velkinLog(LOG_WARNING, "MissingDocks: %s", names.toUtf8().constData());
		} else if (!confirmAction(localeText("MissingDocks").arg(names), false)) {
			return LoadResult::Cancelled;
		}
	}
	if (!mainWindow) {
		return LoadResult::NotStarted;
	}
	const LayoutMemento before = currentLayout();
	const SnapshotData now = layoutOf(before);
	LayoutRefusal refusal = LayoutRefusal::None;
	if (!applyLayout(mainWindow, data, &now, &refusal)) {
		// The reason follows; the log line of a load nobody watched names the file before it.
		const QString why = localeText(refusalKey(refusal));
		reportLoadFailure(source, "RestoreFailed",
				  unattended(source) ? path + QStringLiteral(": ") + why : why);
		return LoadResult::RestoreFailed;
	}
	finishLoad(LoadedLayout{path, data.name, data, before, source});
	return LoadResult::Loaded;
}

void Velkin::reportLoadFailure(LoadSource source, const char *key, const QString &detail)
{
	if (unattended(source)) {
		logError(key, detail);
	} else {
		reportError(key, detail);
	}
}

LayoutMemento Velkin::currentLayout() const
{
	if (!mainWindow) {
		return LayoutMemento{};
	}
	return LayoutMemento{mainWindow->saveGeometry(), mainWindow->saveState(0), last};
}

void Velkin::finishLoad(const LoadedLayout &loaded)
{
	last = loaded.path;
	layoutHold.hold(mainWindow);
	settingsSaveTimer.start(kSettingsSaveDelayMs);
	selectSnapshotRow(loaded.path);
	for (OperationListener *listener : operationListeners()) {
		listener->layoutLoaded(loaded);
	}
}

LoadResult Velkin::putLayoutBack(const LayoutMemento &layout, LoadSource source)
{
	if (!mainWindow) {
		return LoadResult::NotStarted;
	}
	const LayoutMemento before = currentLayout();
	const SnapshotData now = layoutOf(before);
	LayoutRefusal refusal = LayoutRefusal::None;
	if (!applyLayout(mainWindow, layoutOf(layout), &now, &refusal)) {
		reportLoadFailure(source, "RestoreFailed", localeText(refusalKey(refusal)));
		return LoadResult::RestoreFailed;
	}
	// The snapshot that becomes `last` again, and its name for those who listen; none when its file is gone.
	QString path = layout.last;
	SnapshotData named;
	if (!path.isEmpty() && !QFileInfo::exists(path)) {
		path.clear();
	} else if (!path.isEmpty()) {
		readSnapshotFile(path, named);
	}
	finishLoad(LoadedLayout{path, named.name, layoutOf(layout), before, source});
	return LoadResult::Loaded;
}

LoadResult Velkin::putKeptLayout(const SnapshotData &kept, bool *changed)
{
	const OperationGuard guard(*this);
	if (!guard || !mainWindow) {
		return LoadResult::NotStarted;
	}
	const LayoutMemento before = currentLayout();
	const SnapshotData now = layoutOf(before);
	LayoutRefusal refusal = LayoutRefusal::None;
	if (!applyLayout(mainWindow, kept, &now, &refusal)) {
		logError("RestoreFailed", QStringLiteral("%1: %2").arg(kept.name, localeText(refusalKey(refusal))));
		return LoadResult::RestoreFailed;
	}
	// OBS's own restore may have given the same layout already: then nothing was loaded, and there is nothing to
	// undo.
	const LayoutMemento after = currentLayout();
	const bool differs = after.geometry != before.geometry || after.state != before.state;
	if (changed) {
		*changed = differs;
	}
	if (differs) {
		SnapshotData named;
		if (!last.isEmpty()) {
			readSnapshotFile(last, named);
		}
		finishLoad(LoadedLayout{last, named.name, kept, before, LoadSource::Kept, false});
	} else {
		// No undo step and `last` as it was; the docks that the kept layout names and that come later still take
		// their place in it.
		lateDocks.layoutLoaded(LoadedLayout{last, QString(), kept, before, LoadSource::Kept, false});
	}
	return LoadResult::Loaded;
}

void Velkin::selectSnapshotRow(const QString &path)
{
	if (!snapshotList) {
		return;
	}
	for (int row = 0; row < snapshotList->count(); ++row) {
		if (snapshotList->item(row)->data(kPathRole).toString() == path) {
			snapshotList->setCurrentRow(row);
			break;
		}
	}
}
