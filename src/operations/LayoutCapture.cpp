#include "operations/LayoutCapture.hpp"

#include <QDockWidget>
#include <QMainWindow>

bool isOwnDock(const QMainWindow *window, const QDockWidget *dock)
{
	// A floating tab group is a child of the main window that holds its docks.
	const QWidget *parent = dock->parentWidget();
	if (parent && parent->inherits("QDockWidgetGroupWindow")) {
		parent = parent->parentWidget();
	}
	return parent == window;
}

QList<QDockWidget *> ownDocks(QMainWindow *window)
{
	QList<QDockWidget *> own;
	const QList<QDockWidget *> docks = window->findChildren<QDockWidget *>(Qt::FindChildrenRecursively);
	for (QDockWidget *dock : docks) {
		if (isOwnDock(window, dock)) {
			own.append(dock);
		}
	}
	return own;
}

QStringList dockNames(QMainWindow *window)
{
	QStringList names;
	const QList<QDockWidget *> docks = ownDocks(window);
	for (const QDockWidget *dock : docks) {
		if (!dock->objectName().isEmpty()) {
			names.append(dock->objectName());
		}
	}
	names.removeDuplicates();
	names.sort(Qt::CaseSensitive);
	return names;
}

SnapshotData captureLayout(QMainWindow *window, const QString &name)
{
	SnapshotData data;
	data.name = name;
	data.state = window->saveState(0);
	data.geometry = window->saveGeometry();
	data.docks = dockNames(window);
	return data;
}

QStringList missingDocks(QMainWindow *window, const SnapshotData &data)
{
	const QStringList present = dockNames(window);
	QStringList missing;
	for (const QString &dock : data.docks) {
		if (!present.contains(dock, Qt::CaseSensitive)) {
			missing.append(dock);
		}
	}
	return missing;
}
