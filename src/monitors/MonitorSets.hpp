#pragma once

#include <QByteArray>
#include <QJsonArray>
#include <QList>
#include <QRect>
#include <QString>

#include <optional>

// One monitor as Qt reports it: its connector, what the monitor says it is (empty where Qt does not know), and its
// rectangle on the desktop.
struct MonitorScreen {
	QString name;
	QString manufacturer;
	QString model;
	QString serial;
	QRect geometry;
	bool operator==(const MonitorScreen &other) const
	{
		return name == other.name && manufacturer == other.manufacturer && model == other.model &&
		       serial == other.serial && geometry == other.geometry;
	}
};
using MonitorSet = QList<MonitorScreen>;

// What a monitor is: its manufacturer, model and serial number when Qt gives any of them, else its connector.
QString monitorIdentity(const MonitorScreen &screen);

// A set of monitors as it counts: what each monitor is, and how each stands beside each other one (left of, right
// of, above, below or overlapping, along each axis), but not their sizes in pixels. The same monitors at another
// resolution are the same set; the same monitors the other way round, or another monitor on the same connector,
// are another.
struct MonitorKey {
	QStringList identities;
	QList<int> sides;
	bool operator==(const MonitorKey &other) const
	{
		return identities == other.identities && sides == other.sides;
	}
	bool operator!=(const MonitorKey &other) const { return !(*this == other); }
};
MonitorKey monitorKey(const MonitorSet &set);

// The snapshot last loaded with a set of monitors, by file name.
struct MonitorLayout {
	MonitorSet screens;
	QString snapshot;
	bool operator==(const MonitorLayout &other) const
	{
		return snapshot == other.snapshot && screens == other.screens;
	}
};

// A set as a list of {"name", "manufacturer", "model", "serial", "x", "y", "width", "height"}; read back, nothing
// when it is empty or any entry lacks its name or a rectangle with a positive size.
QJsonArray monitorSetToJson(const MonitorSet &set);
std::optional<MonitorSet> monitorSetFromJson(const QJsonArray &screens);

// The screens that Qt has now.
MonitorSet currentMonitors();

// The entry of that set in the list, or -1.
qsizetype indexOfMonitors(const QList<MonitorLayout> &layouts, const MonitorKey &key);

// "monitorLayouts": a list of {"screens": [{"name", "manufacturer", "model", "serial", "x", "y", "width",
// "height"}], "snapshot"}, the set used least recently first. An entry of an older file, with the name and the
// rectangle alone, counts by its connector. Reading keeps the entries whose snapshot is a plain file name, whose
// screens are at least one with a positive size, and whose set has no entry after them; at most kMaxMonitorLayouts
// of them, the most recently used.
constexpr qsizetype kMaxMonitorLayouts = 64;
QJsonArray monitorLayoutsToJson(const QList<MonitorLayout> &layouts);
QList<MonitorLayout> monitorLayoutsFromJson(const QJsonArray &list);

// monitors.json: the option that loads the snapshot of a set of monitors when that set comes back, and the memory.
// automation.json of earlier versions has both under the same keys.
struct MonitorSettings {
	bool follow = true;
	QList<MonitorLayout> layouts;
};
constexpr char kMonitorsFileName[] = "monitors.json";
constexpr qint64 kMaxMonitorsFileBytes = 4194304;
// The settings from a JSON object's "followMonitors" and "monitorLayouts"; nothing when the bytes are no object.
std::optional<MonitorSettings> parseMonitorSettings(const QByteArray &json);
// Reads a regular file of at most 4 MiB; nothing when there is none or it cannot be read.
std::optional<MonitorSettings> readMonitorSettings(const QString &path);
QByteArray monitorSettingsToJson(const MonitorSettings &settings);

// monitors-on-screen.json: {"screens": [...]}, the set of monitors when they last settled, so that a start on
// other monitors counts as their change.
constexpr char kMonitorsOnScreenFileName[] = "monitors-on-screen.json";
std::optional<MonitorSet> readMonitorsOnScreen(const QString &path);
QByteArray monitorsOnScreenToJson(const MonitorSet &set);
