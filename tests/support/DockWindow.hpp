#pragma once

#include <QApplication>
#include <QDockWidget>
#include <QLabel>
#include <QMainWindow>

// Fills a main window the way OBS arranges its docks: some docked side by side, two tabified, one floating,
// one hidden; with odd docks also one without an object name and two sharing one name, which Qt itself
// cannot put back in place.
inline void addTestDocks(QMainWindow *window, bool oddDocks = true)
{
	window->setCentralWidget(new QLabel(QStringLiteral("preview")));
	const auto dock = [window](const QString &name, Qt::DockWidgetArea area) {
		auto *widget = new QDockWidget(name.isEmpty() ? QStringLiteral("unnamed") : name, window);
		widget->setObjectName(name);
		widget->setWidget(new QLabel(name));
		window->addDockWidget(area, widget);
		return widget;
	};
	QDockWidget *scenes = dock(QStringLiteral("scenesDock"), Qt::BottomDockWidgetArea);
	QDockWidget *sources = dock(QStringLiteral("sourcesDock"), Qt::BottomDockWidgetArea);
	dock(QStringLiteral("mixerDock"), Qt::BottomDockWidgetArea);
	QDockWidget *transitions = dock(QStringLiteral("transitionsDock"), Qt::RightDockWidgetArea);
	dock(QStringLiteral("controlsDock"), Qt::RightDockWidgetArea);
	QDockWidget *stats = dock(QStringLiteral("statsDock"), Qt::LeftDockWidgetArea);
	if (oddDocks) {
		dock(QString(), Qt::LeftDockWidgetArea);
		dock(QStringLiteral("Browser"), Qt::LeftDockWidgetArea);
		dock(QStringLiteral("Browser"), Qt::TopDockWidgetArea);
	}
	window->tabifyDockWidget(scenes, sources);
	stats->setFloating(true);
	stats->move(700, 500);
	transitions->hide();
	window->setGeometry(120, 140, 1000, 700);
	window->show();
	QApplication::processEvents();
}
