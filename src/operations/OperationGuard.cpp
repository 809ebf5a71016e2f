#include "operations/OperationGuard.hpp"
#include "store/SnapshotDocument.hpp"

#include <QMainWindow>

bool Velkin::canStartOperation() const
{
	return !shuttingDown && !busy && mainWindow;
}

bool Velkin::readSelectedSnapshot(QString &path, SnapshotData &data)
{
	path = selectedSnapshotPath();
	if (path.isEmpty()) {
		return false;
	}
	if (readSnapshotFile(path, data) != SnapshotIoResult::Ok) {
		reportError("ReadFailed", path);
		return false;
	}
	return true;
}
