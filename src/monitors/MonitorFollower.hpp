#pragma once

#include "module/FeatureHost.hpp"
#include "module/OperationListener.hpp"
#include "module/SnapshotHolder.hpp"
#include "monitors/MonitorSets.hpp"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <functional>
#include <optional>

class QAction;
class QWidget;
struct SnapshotFolder;

// What following the monitors asks of the controller besides loads and the window.
class MonitorsHost : public virtual FeatureHost {
public:
	// Makes the snapshot folder, beside which monitors.json lies; false, reported, when it cannot.
	virtual bool ensureSnapshotDirectory() = 0;

protected:
	~MonitorsHost() = default;
};

// Follows the monitors: once the screens have been still for half a second after a change, and once at start-up,
// every window is brought onto them; when the set of monitors changed, and the option is on, the snapshot last loaded
// with the set there is now loads. A start on monitors other than those at the last exit or crash is such a change.
// Every load is remembered for the set it was made on, the set there was when its operation started. A set that comes
// while a load is made (during its question) loads nothing over that load. The option and the memory are kept in
// monitors.json, the monitors when they last settled in monitors-on-screen.json.
class MonitorFollower : public QObject, public SnapshotHolder, public OperationListener {
	friend struct VelkinProbe;

public:
	explicit MonitorFollower(MonitorsHost &host);

	// monitors.json at path, read once; while it does not exist, the option and the memory come from the older
	// automation.json at olderPath, which keeps them. A file that is there but cannot be read stays as the user left
	// it until the option changes. What a load changes is saved 100 ms later, or at the exit. The monitors at the
	// last exit or crash come from monitors-on-screen.json beside it.
	void read(const QString &path, const QString &olderPath);
	void save();
	void saveAtExit();

	void start();
	void stop();
	void operationStarted() override;
	void operationEnded() override;
	void layoutLoaded(const LoadedLayout &loaded) override;

	void setFollow(bool enabled);
	// The option in the manager list's context menu.
	void addAction(QWidget *list);

	void snapshotRenamed(const QString &oldPath, const QString &newPath) override;
	void snapshotDeleted(const QString &path) override;
	// Forgets the snapshots that the folder no longer has at all.
	void dropSnapshotsOutside(const SnapshotFolder &folder);

private:
	void screensChanged();
	void screensSettled();
	// Remembers the snapshot for that set, as the set used most recently.
	void remember(const MonitorSet &set, const QString &fileName);
	// Gives the set's snapshot `from` to `to`, forgetting it when `to` is empty: true when any changed.
	bool moveSnapshot(const QString &from, const QString &to);
	// Writes monitors-on-screen.json when the set differs from the one it holds.
	void keepMonitorsOnScreen(const MonitorSet &monitors);
	// A save that leaves a file that could not be read as it is; one 100 ms from now.
	void saveUnlessKept();
	void saveSoon();

	MonitorsHost &host;
	QString path;
	MonitorSettings settings;
	bool fileKept = false;
	// monitors-on-screen.json and the set it holds: the monitors when they last settled, in this run or before.
	QString onScreenPath;
	std::optional<MonitorSet> lastOnScreen;
	// The screens as Qt has them; the tests give their own.
	std::function<MonitorSet()> monitorsNow = currentMonitors;
	// The screens' changes settle on this timer; the set when they last settled; whether a change waits to settle,
	// and whether it waits for a running operation to end; whether a load took effect while a change waited.
	QTimer screensTimer;
	MonitorKey settledMonitors;
	bool changePending = false;
	bool screensWaiting = false;
	bool loadedWhilePending = false;
	// The set of monitors when the running operation started: its load is remembered for that set.
	std::optional<MonitorSet> operationMonitors;
	QList<QMetaObject::Connection> screenConnections;
	QPointer<QAction> followAction;
	// A load's change of the memory is written when this fires, by any other save, or at the exit.
	QTimer memorySaveTimer;
};
