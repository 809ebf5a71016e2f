#include "module/Velkin.hpp"
#include "operations/OperationGuard.hpp"
#include "store/SnapshotDocument.hpp"

#include <QMainWindow>

std::array<OperationListener *, 6> Velkin::operationListeners()
{
	// Undo keeps the layout from before; the remote event comes last, once every feature has taken the load in.
	return {&undo, &automation, &monitors, &lateDocks, &keeper, &remote};
}

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
	for (OperationListener *listener : operationListeners()) {
		listener->operationStarted();
	}
	return true;
}

void Velkin::endOperation()
{
	busy = false;
	for (OperationListener *listener : operationListeners()) {
		listener->operationEnded();
	}
}

// The selected snapshot's path and document: nothing when none is selected (silently) or its file cannot be read
// (reported).
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
