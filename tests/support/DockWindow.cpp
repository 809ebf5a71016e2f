#include "support/DockWindow.hpp"

#include <QApplication>
#include <QDockWidget>
#include <QLabel>
#include <QMainWindow>

QList<PlannedDock> coreDocks(bool obsTitles)
{
	const struct {
		const char *name;
		const char *title;
	} core[] = {{"scenesDock", "Scenes"},     {"sourcesDock", "Sources"},
		    {"mixerDock", "Audio Mixer"}, {"transitionsDock", "Scene Transitions"},
		    {"controlsDock", "Controls"}, {"statsDock", "Stats"}};
	QList<PlannedDock> docks;
	for (const auto &d : core) {
		docks.append(
			PlannedDock(QString::fromLatin1(d.name), obsTitles ? QString::fromLatin1(d.title) : QString()));
	}
	return docks;
}

DockWindowPlan obsCoreDockPlan(const QRect &place)
{
	DockWindowPlan plan;
	plan.docks = coreDocks(true);
	plan.hidden = {QStringLiteral("statsDock")};
	plan.position = place.topLeft();
	plan.size = place.size();
	return plan;
}

QList<QDockWidget *> buildDockWindow(QMainWindow *window, const DockWindowPlan &plan)
{
	window->setCentralWidget(new QLabel(QStringLiteral("preview")));
	QList<QDockWidget *> docks;
	for (const PlannedDock &planned : plan.docks) {
		const QString label = planned.title.isEmpty() ? planned.name : planned.title;
		const QString title = label.isEmpty() ? QStringLiteral("unnamed") : label;
		auto *dock = new QDockWidget(title, window);
		dock->setObjectName(planned.name);
		dock->setWidget(new QLabel(label));
		window->addDockWidget(planned.area, dock);
		docks.append(dock);
	}
	const auto named = [&](const QString &name) -> QDockWidget * {
		for (QDockWidget *dock : docks) {
			if (dock->objectName() == name) {
				return dock;
			}
		}
		qFatal("no dock named %s in the plan", qPrintable(name));
		return nullptr;
	};
	for (const auto &[first, second] : plan.tabified) {
		window->tabifyDockWidget(named(first), named(second));
	}
	for (const FloatingDock &floating : plan.floating) {
		QDockWidget *dock = named(floating.name);
		dock->setFloating(true);
		if (floating.position) {
			dock->move(*floating.position);
		}
	}
	for (const QString &name : plan.hidden) {
		named(name)->hide();
	}
	if (plan.position) {
		window->setGeometry(QRect(*plan.position, plan.size));
	} else {
		window->resize(plan.size);
	}
	if (plan.show) {
		window->show();
		QApplication::processEvents();
	}
	return docks;
}

void addTestDocks(QMainWindow *window, bool oddDocks)
{
	DockWindowPlan plan;
	plan.docks = coreDocks();
	// Scenes, Sources and the mixer at the bottom, the transitions and the controls on the right, the stats
	// on the left.
	plan.docks[3].area = Qt::RightDockWidgetArea;
	plan.docks[4].area = Qt::RightDockWidgetArea;
	plan.docks[5].area = Qt::LeftDockWidgetArea;
	if (oddDocks) {
		plan.docks.append(PlannedDock(QString(), QString(), Qt::LeftDockWidgetArea));
		plan.docks.append(PlannedDock(QStringLiteral("Browser"), QString(), Qt::LeftDockWidgetArea));
		plan.docks.append(PlannedDock(QStringLiteral("Browser"), QString(), Qt::TopDockWidgetArea));
	}
	plan.tabified = {{QStringLiteral("scenesDock"), QStringLiteral("sourcesDock")}};
	plan.floating = {{QStringLiteral("statsDock"), QPoint(700, 500)}};
	plan.hidden = {QStringLiteral("transitionsDock")};
	plan.position = QPoint(120, 140);
	plan.size = QSize(1000, 700);
	buildDockWindow(window, plan);
}

namespace {

QDockWidget *dockOf(QMainWindow &window, const char *name)
{
	return window.findChild<QDockWidget *>(QString::fromLatin1(name));
}

} // namespace

const QList<TestLayout> &testLayouts()
{
	static const QList<TestLayout> layouts = {
		{"Bottom", QRect(80, 80, 1100, 740), [](QMainWindow &) {}},
		{"Right", QRect(60, 60, 1280, 800),
		 [](QMainWindow &w) {
			 w.addDockWidget(Qt::RightDockWidgetArea, dockOf(w, "mixerDock"));
			 w.addDockWidget(Qt::RightDockWidgetArea, dockOf(w, "controlsDock"));
			 w.resizeDocks({dockOf(w, "mixerDock")}, {330}, Qt::Horizontal);
		 }},
		{"Tabs", QRect(100, 90, 1200, 760),
		 [](QMainWindow &w) {
			 w.tabifyDockWidget(dockOf(w, "scenesDock"), dockOf(w, "sourcesDock"));
			 w.tabifyDockWidget(dockOf(w, "transitionsDock"), dockOf(w, "controlsDock"));
		 }},
		{"Sides", QRect(40, 50, 1400, 900),
		 [](QMainWindow &w) {
			 w.addDockWidget(Qt::LeftDockWidgetArea, dockOf(w, "scenesDock"));
			 w.addDockWidget(Qt::TopDockWidgetArea, dockOf(w, "sourcesDock"));
			 w.addDockWidget(Qt::RightDockWidgetArea, dockOf(w, "mixerDock"));
			 w.splitDockWidget(dockOf(w, "mixerDock"), dockOf(w, "transitionsDock"), Qt::Vertical);
			 dockOf(w, "statsDock")->show();
			 w.splitDockWidget(dockOf(w, "controlsDock"), dockOf(w, "statsDock"), Qt::Horizontal);
			 w.resizeDocks({dockOf(w, "scenesDock")}, {260}, Qt::Horizontal);
			 w.resizeDocks({dockOf(w, "sourcesDock")}, {150}, Qt::Vertical);
		 }},
		{"Floating", QRect(120, 100, 1000, 700),
		 [](QMainWindow &w) {
			 dockOf(w, "statsDock")->show();
			 dockOf(w, "statsDock")->setFloating(true);
			 dockOf(w, "statsDock")->setGeometry(1000, 140, 420, 300);
			 dockOf(w, "transitionsDock")->hide();
		 }},
	};
	return layouts;
}
