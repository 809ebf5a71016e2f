#pragma once

#include "module/Velkin.hpp"

#include <QAction>
#include <QMenu>
#include <QPointer>

// The tests' one way to the state that no operation shows: the controller's members and those of its feature
// objects, read and set in place.
struct VelkinProbe {
	Velkin &velkin;

	// What a rename and a delete do to the references, without the file operations around them.
	void moveSnapshotReferences(const QString &oldPath, const QString &newPath)
	{
		velkin.moveSnapshotReferences(oldPath, newPath);
	}
	void forgetSnapshotReferences(const QString &path) { velkin.forgetSnapshotReferences(path); }

	RemoteControl &remote() { return velkin.remote; }

	// Automation
	Automation &automation() { return velkin.automation; }
	AutomationSettings &automationSettings() { return velkin.automation.settings; }
	QString &automationPath() { return velkin.automation.path; }
	QPointer<QMenu> &automationMenu() { return velkin.automation.menu; }
	QPointer<QAction> &restorePreviousAction() { return velkin.automation.restorePreviousAction; }

	// The Dock Layouts menu and the pictures
	LayoutsMenu &layoutsMenu() { return velkin.layoutsMenu; }
	QPointer<QMenu> &layoutsSubmenu() { return velkin.layoutsMenu.menu; }
	QPointer<QAction> &layoutsMenuAction() { return velkin.layoutsMenu.menuAction; }
	const QHash<QString, LayoutsMenu::Picture> &layoutPictures() { return velkin.layoutsMenu.pictures; }

	// Undo
	QList<LayoutMemento> &undoHistory() { return velkin.undo.history; }
	obs_hotkey_id undoHotkeyId() { return velkin.undo.hotkeyId; }
	QPointer<QAction> &undoAction() { return velkin.undo.action; }
};

inline VelkinProbe probe(Velkin *velkin)
{
	return VelkinProbe{*velkin};
}
