// Writes a snapshot document of a main window that holds OBS's core docks in a chosen arrangement, for the
// real-host checks: velkin-layout-tool OUTPUT NAME WORD...
//
// The words are those of support/Arrangement.hpp; the window starts at 60,60 1280x800 with every core dock at
// the bottom and Stats hidden, as OBS first arranges them.
#include "operations/LayoutCapture.hpp"
#include "store/SnapshotDocument.hpp"
#include "support/Arrangement.hpp"
#include "support/DockWindow.hpp"

#include <QApplication>
#include <QMainWindow>

#include <cstdio>

int main(int argc, char **argv)
{
	QApplication app(argc, argv);
	const QStringList args = app.arguments();
	if (args.size() < 3) {
		fprintf(stderr, "usage: velkin-layout-tool OUTPUT NAME [WORD]...\n");
		return 2;
	}
	QMainWindow window;
	buildDockWindow(&window, obsCoreDockPlan(QRect(60, 60, 1280, 800)));
	const QString error = arrangeDocks(&window, args.mid(3));
	if (!error.isEmpty()) {
		fprintf(stderr, "%s\n", qPrintable(error));
		return 2;
	}
	const SnapshotData data = captureLayout(&window, args.at(2));
	if (writeSnapshotFile(args.at(1), data) != SnapshotIoResult::Ok) {
		fprintf(stderr, "could not write %s\n", qPrintable(args.at(1)));
		return 1;
	}
	return 0;
}
