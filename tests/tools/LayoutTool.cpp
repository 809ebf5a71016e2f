// Writes a snapshot document of a main window that holds OBS's core docks in a chosen arrangement, for the
// real-host checks: velkin-layout-tool OUTPUT NAME [float:DOCK] [hide:DOCK] [show:DOCK] [right:DOCK] ...
#include "operations/Layout.hpp"
#include "store/SnapshotDocument.hpp"
#include "support/DockWindow.hpp"

#include <QApplication>
#include <QDockWidget>
#include <QMainWindow>

#include <cstdio>

int main(int argc, char **argv)
{
	QApplication app(argc, argv);
	const QStringList args = app.arguments();
	if (args.size() < 3) {
		fprintf(stderr,
			"usage: velkin-layout-tool OUTPUT NAME [float:DOCK|hide:DOCK|show:DOCK|right:DOCK]...\n");
		return 2;
	}
	QMainWindow window;
	DockWindowPlan plan;
	plan.docks = coreDocks(true);
	plan.hidden = {QStringLiteral("statsDock")};
	plan.position = QPoint(60, 60);
	plan.size = QSize(1280, 800);
	buildDockWindow(&window, plan);

	for (const QString &arg : args.mid(3)) {
		const QString action = arg.section(QLatin1Char(':'), 0, 0);
		auto *dock = window.findChild<QDockWidget *>(arg.section(QLatin1Char(':'), 1));
		if (!dock) {
			fprintf(stderr, "no dock in %s\n", qPrintable(arg));
			return 2;
		}
		if (action == QLatin1String("float")) {
			dock->show();
			dock->setFloating(true);
			dock->setGeometry(900, 120, 420, 300);
		} else if (action == QLatin1String("hide")) {
			dock->hide();
		} else if (action == QLatin1String("show")) {
			dock->show();
		} else if (action == QLatin1String("right")) {
			window.addDockWidget(Qt::RightDockWidgetArea, dock);
		}
		app.processEvents();
	}
	const SnapshotData data = captureLayout(&window, args.at(2));
	if (writeSnapshotFile(args.at(1), data) != SnapshotIoResult::Ok) {
		fprintf(stderr, "could not write %s\n", qPrintable(args.at(1)));
		return 1;
	}
	return 0;
}
