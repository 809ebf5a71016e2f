#include "operations/Layout.hpp"

#include <QDockWidget>
#include <QLayout>
#include <QMainWindow>

QStringList dockNames(QMainWindow *window)
{
	QStringList names;
	const QList<QDockWidget *> docks = window->findChildren<QDockWidget *>(Qt::FindChildrenRecursively);
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

static void activateLayout(QMainWindow *window)
{
	if (QLayout *layout = window->layout()) {
		layout->activate();
	}
}

bool applyLayout(QMainWindow *window, const SnapshotData &data)
{
	const QByteArray previousState = window->saveState(0);
	const QByteArray previousGeometry = window->saveGeometry();
	const QRect previousRect = window->geometry();

	// The state is only tried once the window has taken the geometry.
	if (!data.state.isEmpty() && !data.geometry.isEmpty() && window->restoreGeometry(data.geometry) &&
	    window->restoreState(data.state, 0)) {
		activateLayout(window);
		return true;
	}

	// Roll back: the window refused the snapshot.
	window->restoreGeometry(previousGeometry);
	window->restoreState(previousState, 0);
	activateLayout(window);
	if (window->windowState() == Qt::WindowNoState) {
		window->setGeometry(previousRect);
	}
	return false;
}
