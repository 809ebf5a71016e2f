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

// A state restored into a hidden, maximized or full-screen main window that is too small for it is kept aside by
// Qt, to be applied once the window has its final size. That copy shares its layout items with the live
// arrangement, and the next restore frees them: showing the window (OBS coming back from the tray) would then
// touch freed memory. Splitting beside a dock that is in no layout makes Qt apply and drop the copy first and
// changes nothing else.
static bool restoreDockState(QMainWindow *window, const QByteArray &state)
{
	QDockWidget probe(window);
	probe.hide();
	window->splitDockWidget(&probe, &probe, Qt::Horizontal);
	return window->restoreState(state, 0);
}

bool applyLayout(QMainWindow *window, const SnapshotData &data, const SnapshotData *current)
{
	const QByteArray previousState = current ? current->state : window->saveState(0);
	const QByteArray previousGeometry = current ? current->geometry : window->saveGeometry();
	const QRect previousRect = window->geometry();

	// The state is only tried once the window has taken the geometry.
	if (!data.state.isEmpty() && !data.geometry.isEmpty() && window->restoreGeometry(data.geometry) &&
	    restoreDockState(window, data.state)) {
		activateLayout(window);
		return true;
	}

	// Roll back: the window refused the snapshot.
	window->restoreGeometry(previousGeometry);
	restoreDockState(window, previousState);
	activateLayout(window);
	if (window->windowState() == Qt::WindowNoState) {
		window->setGeometry(previousRect);
	}
	return false;
}
