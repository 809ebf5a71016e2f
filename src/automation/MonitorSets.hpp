#pragma once

#include <QJsonArray>
#include <QList>
#include <QRect>
#include <QString>

// A set of monitors as Qt reports them: each screen's name and geometry. Two sets are the same when they hold the
// same screens, in any order.
struct MonitorScreen {
	QString name;
	QRect geometry;
	bool operator==(const MonitorScreen &other) const
	{
		return name == other.name && geometry == other.geometry;
	}
};
using MonitorSet = QList<MonitorScreen>;

// The snapshot last loaded while a set of monitors was connected, by file name.
struct MonitorLayout {
	MonitorSet screens;
	QString snapshot;
	bool operator==(const MonitorLayout &other) const
	{
		return snapshot == other.snapshot && screens == other.screens;
	}
};

// The screens that Qt has now, sorted by name and place, so that the order in which Qt lists them does not count.
MonitorSet currentMonitors();
MonitorSet sortedMonitors(MonitorSet set);
bool sameMonitors(const MonitorSet &a, const MonitorSet &b);

// The entry of that set in the list, or -1.
qsizetype indexOfMonitors(const QList<MonitorLayout> &layouts, const MonitorSet &set);

// "monitorLayouts" in automation.json: a list of {"screens": [{"name", "x", "y", "width", "height"}], "snapshot"}.
// Reading keeps the entries whose snapshot is a plain file name, whose screens are at least one with a positive
// size, and whose set has no entry before them; at most kMaxMonitorLayouts of them.
constexpr qsizetype kMaxMonitorLayouts = 64;
QJsonArray monitorLayoutsToJson(const QList<MonitorLayout> &layouts);
QList<MonitorLayout> monitorLayoutsFromJson(const QJsonArray &list);
