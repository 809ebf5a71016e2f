#include "module/Keys.hpp"
#include "module/Module.hpp"
#include "module/Velkin.hpp"
#include "operations/Layout.hpp"
#include "operations/OperationGuard.hpp"
#include "settings/SettingsFile.hpp"
#include "store/SnapshotDocument.hpp"

#include <QListWidget>
#include <QMainWindow>

Velkin::LoadResult Velkin::loadSnapshot(const QString &path, LoadSource source)
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
		return LoadResult::Failed;
	}
	const QStringList missing = missingDocks(mainWindow, data);
	if (!missing.isEmpty()) {
		const QString names = missing.join(QStringLiteral(", "));
		if (source == LoadSource::Automation) {
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
	if (!applyLayout(mainWindow, data)) {
		// The box says it all; the log line of a load nobody watched names the file.
		reportLoadFailure(source, "RestoreFailed", source == LoadSource::Automation ? path : QString());
		return LoadResult::Failed;
	}
	finishLoad(path, before, true);
	return LoadResult::Loaded;
}

void Velkin::reportLoadFailure(LoadSource source, const char *key, const QString &detail)
{
	if (source == LoadSource::Automation) {
		logError(key, detail);
	} else {
		reportError(key, detail);
	}
}

Velkin::LayoutMemento Velkin::currentLayout() const
{
	if (!mainWindow) {
		return LayoutMemento{};
	}
	return LayoutMemento{mainWindow->saveGeometry(), mainWindow->saveState(0), last};
}

void Velkin::finishLoad(const QString &path, const LayoutMemento &before, bool remember)
{
	if (remember) {
		undoHistory.append(before);
		while (undoHistory.size() > kUndoDepth) {
			undoHistory.removeFirst();
		}
		updateAutomationActions();
	}
	last = path;
	settingsSaveTimer.start(kSettingsSaveDelayMs);
	selectSnapshotRow(path);
}

bool Velkin::putLayoutBack(const LayoutMemento &layout, LoadSource source)
{
	if (!mainWindow) {
		return false;
	}
	SnapshotData data;
	data.geometry = layout.geometry;
	data.state = layout.state;
	const LayoutMemento before = currentLayout();
	if (!applyLayout(mainWindow, data)) {
		reportLoadFailure(source, "RestoreFailed", QString());
		return false;
	}
	// Undo takes a load back and is not itself kept; every other load can be undone.
	finishLoad(layout.last, before, source != LoadSource::Undo);
	return true;
}

void Velkin::undoLastLoad()
{
	const OperationGuard guard(*this);
	if (!guard || undoHistory.isEmpty()) {
		return;
	}
	const LayoutMemento layout = undoHistory.takeLast();
	updateAutomationActions();
	putLayoutBack(layout, LoadSource::Undo);
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
