// Writes a snapshot document of a main window that holds OBS's core docks in a chosen arrangement, for the
// real-host checks: velkin-layout-tool OUTPUT NAME ACTION...
//
//   float:DOCK[:X,Y,W,H]   floats the dock (at 900,120 420x300 unless given)
//   hide:DOCK, show:DOCK   hides or shows the dock
//   left:DOCK, right:DOCK, top:DOCK, bottom:DOCK
//                          moves the dock to that side
//   split:DOCK:OTHER:h|v   puts OTHER beside DOCK (h) or below it (v)
//   tab:DOCK:OTHER         puts OTHER into a tab group with DOCK
//   width:DOCK:N, height:DOCK:N
//                          resizes the dock within its side
//   window:X,Y,W,H         the main window's place and size (60,60 1280x800 unless given)
#include "operations/Layout.hpp"
#include "store/SnapshotDocument.hpp"
#include "support/DockWindow.hpp"

#include <QApplication>
#include <QDockWidget>
#include <QMainWindow>

#include <cstdio>

namespace {

QRect rectOf(const QString &text)
{
	const QStringList parts = text.split(QLatin1Char(','));
	if (parts.size() != 4) {
		return QRect();
	}
	return QRect(parts[0].toInt(), parts[1].toInt(), parts[2].toInt(), parts[3].toInt());
}

} // namespace

int main(int argc, char **argv)
{
	QApplication app(argc, argv);
	const QStringList args = app.arguments();
	if (args.size() < 3) {
		fprintf(stderr, "usage: velkin-layout-tool OUTPUT NAME [ACTION]...\n");
		return 2;
	}
	QMainWindow window;
	buildDockWindow(&window, obsCoreDockPlan(QRect(60, 60, 1280, 800)));

	const auto dockNamed = [&](const QString &name) { return window.findChild<QDockWidget *>(name); };
	const QMap<QString, Qt::DockWidgetArea> sides{{QStringLiteral("left"), Qt::LeftDockWidgetArea},
						      {QStringLiteral("right"), Qt::RightDockWidgetArea},
						      {QStringLiteral("top"), Qt::TopDockWidgetArea},
						      {QStringLiteral("bottom"), Qt::BottomDockWidgetArea}};
	for (const QString &arg : args.mid(3)) {
		const QStringList parts = arg.split(QLatin1Char(':'));
		const QString &action = parts[0];
		if (action == QLatin1String("window")) {
			window.setGeometry(rectOf(parts.value(1)));
			app.processEvents();
			continue;
		}
		QDockWidget *dock = dockNamed(parts.value(1));
		QDockWidget *other = dockNamed(parts.value(2));
		const bool needsOther = action == QLatin1String("split") || action == QLatin1String("tab");
		if (!dock || (needsOther && !other)) {
			fprintf(stderr, "no dock in %s\n", qPrintable(arg));
			return 2;
		}
		if (action == QLatin1String("float")) {
			dock->show();
			dock->setFloating(true);
			const QRect rect = rectOf(parts.value(2));
			dock->setGeometry(rect.isValid() ? rect : QRect(900, 120, 420, 300));
		} else if (action == QLatin1String("hide")) {
			dock->hide();
		} else if (action == QLatin1String("show")) {
			dock->show();
		} else if (sides.contains(action)) {
			dock->setFloating(false);
			window.addDockWidget(sides.value(action), dock);
		} else if (action == QLatin1String("split")) {
			window.splitDockWidget(dock, other,
					       parts.value(3) == QLatin1String("v") ? Qt::Vertical : Qt::Horizontal);
		} else if (action == QLatin1String("tab")) {
			window.tabifyDockWidget(dock, other);
		} else if (action == QLatin1String("width") || action == QLatin1String("height")) {
			window.resizeDocks({dock}, {parts.value(2).toInt()},
					   action == QLatin1String("width") ? Qt::Horizontal : Qt::Vertical);
		} else {
			fprintf(stderr, "unknown action in %s\n", qPrintable(arg));
			return 2;
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
