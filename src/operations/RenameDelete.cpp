#include "base/Log.hpp"
#include "module/Velkin.hpp"
#include "operations/OperationGuard.hpp"
#include "store/SnapshotDocument.hpp"
#include "store/SnapshotFolder.hpp"

#include <QFile>
#include <QListWidget>

void Velkin::renameSnapshot()
{
	const OperationGuard guard(*this);
	auto selected = guard ? readSelectedSnapshot() : std::nullopt;
	SnapshotFolder folder;
	const QString name = selected ? promptSnapshotName(selected->data.name, selected->path, &folder) : QString();
	if (name.isEmpty()) {
		return;
	}
	selected->data.name = name;
	if (!storeSnapshot(selected->data, selected->path, &folder).isEmpty()) {
		saveSettings();
	}
}

void Velkin::deleteSnapshot()
{
	const OperationGuard guard(*this);
	if (!guard) {
		return;
	}
	const QString path = selectedSnapshotPath();
	if (path.isEmpty()) {
		return;
	}
	const QString name =
		snapshotList && snapshotList->currentItem() ? snapshotList->currentItem()->text() : QString();
	if (!confirmAction(localeText("ConfirmDelete").arg(name), true)) {
		return;
	}
	if (!QFile::remove(path)) {
		reportError("DeleteFailed", path);
		return;
	}
	forgetSnapshotReferences(path);
	if (last == path) {
		last.clear();
	}
	refreshSnapshotList(QString());
	saveSettings();
}
