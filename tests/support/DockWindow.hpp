#pragma once

// Main windows with docks, built the same way for the tests, the fuzzers, the benchmarks and the layout tool.
#include <QApplication>
#include <QDockWidget>
#include <QLabel>
#include <QList>
#include <QMainWindow>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>
#include <utility>

struct PlannedDock {
	PlannedDock(QString name, QString title = QString(), Qt::DockWidgetArea area = Qt::BottomDockWidgetArea)
	    : name(std::move(name)), title(std::move(title)), area(area)
	{
	}

	// The object name; it may be empty or shared with another dock.
	QString name;
	// The title and the label inside; the name when empty (a dock without a name is titled "unnamed").
	QString title;
	Qt::DockWidgetArea area = Qt::BottomDockWidgetArea;
};

struct FloatingDock {
	FloatingDock(QString name, std::optional<QPoint> position = std::nullopt)
	    : name(std::move(name)), position(position)
	{
	}

	QString name;
	// Where the floating dock goes; where Qt puts it when not given.
	std::optional<QPoint> position;
};

// The docks and their arrangement, applied in this order: docks added, tabified pairs, floating docks, hidden
// docks, the window's size (and position when given), then the window shown. Docks are named by object name:
// the first dock of that name.
struct DockWindowPlan {
	QList<PlannedDock> docks;
	QList<std::pair<QString, QString>> tabified;
	QList<FloatingDock> floating;
	QStringList hidden;
	QSize size;
	std::optional<QPoint> position;
	bool show = true;
};

// OBS's core docks in the order OBS adds them, all at the bottom; with OBS's English titles when obsTitles.
QList<PlannedDock> coreDocks(bool obsTitles = false);

// OBS's core docks with OBS's titles, all at the bottom and Stats hidden, as OBS first arranges them, in a window
// at that place.
DockWindowPlan obsCoreDockPlan(const QRect &place);

// Gives the window a central widget and the planned docks and arrangement; shows it and processes the events
// that follow when plan.show. Returns the docks in the order of plan.docks.
QList<QDockWidget *> buildDockWindow(QMainWindow *window, const DockWindowPlan &plan);

// The test layouts of the host checks (Bottom, Right, Tabs, Sides, Floating): each a window of OBS's core docks at
// `place` (obsCoreDockPlan), arranged by `arrange` through Qt.
struct TestLayout {
	const char *name;
	QRect place;
	std::function<void(QMainWindow &)> arrange;
};
const QList<TestLayout> &testLayouts();

// Fills a main window the way OBS arranges its docks: some docked side by side, two tabified, one floating,
// one hidden; with odd docks also one without an object name and two sharing one name, which Qt itself
// cannot put back in place.
void addTestDocks(QMainWindow *window, bool oddDocks = true);
