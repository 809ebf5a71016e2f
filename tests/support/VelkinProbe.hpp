#pragma once

#include "module/Velkin.hpp"

#include <QAction>
#include <QPointer>

// The tests' one way to the state that no operation shows: the controller's members and those of its feature
// objects, read and set in place.
struct VelkinProbe {
	Velkin &velkin;

	RemoteControl &remote() { return velkin.remote; }

	// Undo
	QList<LayoutMemento> &undoHistory() { return velkin.undo.history; }
	obs_hotkey_id undoHotkeyId() { return velkin.undo.hotkeyId; }
	QPointer<QAction> &undoAction() { return velkin.undo.action; }
};

inline VelkinProbe probe(Velkin *velkin)
{
	return VelkinProbe{*velkin};
}
