#include "module/Module.hpp"
#include "module/Velkin.hpp"
#include "operations/OperationGuard.hpp"
#include "store/SnapshotDocument.hpp"

#include <QFile>
#include <QListWidget>

void Velkin::renameSnapshot()
{
	const OperationGuard guard(*this);
	if (!guard) {
		return;
	}
	QString path;
	SnapshotData data;
	if (!readSelectedSnapshot(path, data)) {
		return;
	}
	const QString name = promptSnapshotName(data.name, path);
	if (name.isEmpty()) {
		return;
	}
	data.name = name;
	if (!storeSnapshot(data, path).isEmpty()) {
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
