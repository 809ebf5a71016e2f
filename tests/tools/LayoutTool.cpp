// Writes a snapshot document of a main window that holds OBS's core docks in a chosen arrangement, for the
// real-host checks: velkin-layout-tool OUTPUT NAME [float:DOCK] [hide:DOCK] [show:DOCK] [right:DOCK] ...
#include "operations/Layout.hpp"
#include "store/SnapshotDocument.hpp"

#include <QApplication>
#include <QDockWidget>
#include <QLabel>
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
	window.setCentralWidget(new QLabel(QStringLiteral("preview")));
	const struct {
		const char *name;
		const char *title;
	} docks[] = {{"scenesDock", "Scenes"},     {"sourcesDock", "Sources"},
		     {"mixerDock", "Audio Mixer"}, {"transitionsDock", "Scene Transitions"},
		     {"controlsDock", "Controls"}, {"statsDock", "Stats"}};
	for (const auto &d : docks) {
		auto *dock = new QDockWidget(QString::fromLatin1(d.title), &window);
		dock->setObjectName(QString::fromLatin1(d.name));
		dock->setWidget(new QLabel(QString::fromLatin1(d.title)));
		window.addDockWidget(Qt::BottomDockWidgetArea, dock);
	}
	window.findChild<QDockWidget *>(QStringLiteral("statsDock"))->hide();
	window.setGeometry(60, 60, 1280, 800);
	window.show();
	app.processEvents();

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
