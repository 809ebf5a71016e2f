#include "module/Velkin.hpp"
#include "operations/OperationGuard.hpp"
#include "store/SnapshotDocument.hpp"

#include <QMainWindow>

bool Velkin::canStartOperation() const
{
	return !shuttingDown && !busy && mainWindow;
}

bool Velkin::beginOperation()
{
	if (!canStartOperation()) {
		return false;
	}
	busy = true;
	return true;
}

void Velkin::endOperation()
{
	busy = false;
	automation.operationEnded();
	lateDocks.operationEnded();
}

std::optional<Velkin::SelectedSnapshot> Velkin::readSelectedSnapshot()
{
	SelectedSnapshot selected{selectedSnapshotPath(), SnapshotData()};
	if (selected.path.isEmpty()) {
		return std::nullopt;
	}
	if (readSnapshotFile(selected.path, selected.data) != SnapshotIoResult::Ok) {
		reportError("ReadFailed", selected.path);
		return std::nullopt;
	}
	return selected;
}
