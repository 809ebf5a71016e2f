#include "monitors/MonitorFollower.hpp"
#include "base/Log.hpp"
#include "base/WholeFile.hpp"
#include "operations/Screens.hpp"
#include "store/SnapshotFolder.hpp"

#include <QAction>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMainWindow>
#include <QScreen>
#include <QSet>
#include <QWidget>

#include <utility>

namespace {

// How long the screens must be still before the windows and the monitors' snapshot follow them.
constexpr int kScreensSettleMs = 500;

// How long the memory waits after a load before it is written: a burst of loads writes it once.
constexpr int kMemorySaveDelayMs = 100;

} // namespace

MonitorFollower::MonitorFollower(MonitorsHost &host) : host(host)
{
	screensTimer.setSingleShot(true);
	screensTimer.setInterval(kScreensSettleMs);
	QObject::connect(&screensTimer, &QTimer::timeout, this, [this] { screensSettled(); });
	memorySaveTimer.setSingleShot(true);
	memorySaveTimer.setInterval(kMemorySaveDelayMs);
	QObject::connect(&memorySaveTimer, &QTimer::timeout, this, [this] { saveUnlessKept(); });
}

void MonitorFollower::read(const QString &filePath, const QString &olderPath)
{
	path = filePath;
	onScreenPath = path.isEmpty() ? QString()
				      : QFileInfo(path).dir().filePath(QString::fromLatin1(kMonitorsOnScreenFileName));
	lastOnScreen = onScreenPath.isEmpty() ? std::nullopt : readMonitorsOnScreen(onScreenPath);
	const QFileInfo info(path);
	if (!info.exists() && !info.isSymLink()) {
		// Until the first save, the older file's option and memory stand.
		settings = readMonitorSettings(olderPath).value_or(MonitorSettings());
		return;
	}
	const std::optional<MonitorSettings> read = readMonitorSettings(path);
	fileKept = !read;
	settings = read.value_or(MonitorSettings());
	if (fileKept) {
		velkinLog(LOG_WARNING, "The monitors' snapshots are not followed from %s: it could not be read",
			  kMonitorsFileName);
	}
}

void MonitorFollower::save()
{
	memorySaveTimer.stop();
	if (path.isEmpty() || !host.ensureSnapshotDirectory()) {
		return;
	}
	if (writeWholeFile(path, monitorSettingsToJson(settings), kMonitorsFileName)) {
		fileKept = false;
	}
}

void MonitorFollower::saveAtExit()
{
	saveUnlessKept();
}

void MonitorFollower::saveUnlessKept()
{
	if (!fileKept) {
		save();
	}
}

void MonitorFollower::saveSoon()
{
	if (!fileKept) {
		memorySaveTimer.start();
	}
}

void MonitorFollower::start()
{
	// The monitors when they last settled before this start, at the last exit or crash: other monitors now are a
	// change, and a load made before it settles (the start rule) stands.
	const MonitorKey now = monitorKey(monitorsNow());
	settledMonitors = lastOnScreen ? monitorKey(*lastOnScreen) : now;
	changePending = settledMonitors != now;
	const auto watch = [this](QScreen *screen) {
		screenConnections.append(
			QObject::connect(screen, &QScreen::geometryChanged, this, [this] { screensChanged(); }));
		screenConnections.append(QObject::connect(screen, &QScreen::availableGeometryChanged, this,
							  [this] { screensChanged(); }));
	};
	for (QScreen *screen : QGuiApplication::screens()) {
		watch(screen);
	}
	auto *application = qGuiApp;
	screenConnections.append(
		QObject::connect(application, &QGuiApplication::screenAdded, this, [this, watch](QScreen *screen) {
			watch(screen);
			screensChanged();
		}));
	screenConnections.append(QObject::connect(application, &QGuiApplication::screenRemoved, this,
						  [this](QScreen *) { screensChanged(); }));
	// Once at start-up, after the host has put its own layout back: a window saved on a monitor that is gone.
	screensTimer.start();
}

void MonitorFollower::stop()
{
	for (const QMetaObject::Connection &connection : std::as_const(screenConnections)) {
		QObject::disconnect(connection);
	}
	screenConnections.clear();
	screensTimer.stop();
	screensWaiting = false;
	changePending = false;
}

void MonitorFollower::screensChanged()
{
	if (host.isActive()) {
		changePending = true;
		screensTimer.start();
	}
}

void MonitorFollower::operationStarted()
{
	operationMonitors = monitorsNow();
}

void MonitorFollower::operationEnded()
{
	operationMonitors.reset();
	if (screensWaiting && !host.isShuttingDown()) {
		QMetaObject::invokeMethod(
			this, [this] { screensSettled(); }, Qt::QueuedConnection);
	}
}

void MonitorFollower::screensSettled()
{
	if (!host.isActive()) {
		return;
	}
	// The windows move and the snapshot loads once a running operation (a question of the manager) has ended.
	if (!host.canStartOperation()) {
		screensWaiting = true;
		return;
	}
	screensWaiting = false;
	changePending = false;
	if (QMainWindow *window = host.window()) {
		keepWindowsOnScreens(window);
	}
	const MonitorSet monitors = monitorsNow();
	const MonitorKey now = monitorKey(monitors);
	const bool changed = now != settledMonitors;
	settledMonitors = now;
	keepMonitorsOnScreen(monitors);
	// A load made while the change waited is the user's layout for these monitors: nothing loads over it.
	const bool loadedMeanwhile = std::exchange(loadedWhilePending, false);
	if (!changed || !settings.follow || loadedMeanwhile) {
		return;
	}
	const qsizetype index = indexOfMonitors(settings.layouts, now);
	if (index < 0) {
		return;
	}
	const QString fileName = settings.layouts.at(index).snapshot;
	const QString snapshot = host.snapshotPath(fileName);
	if (!QFileInfo::exists(snapshot)) {
		velkinLog(LOG_WARNING, "Forgot the snapshot of these monitors: %s is gone",
			  fileName.toUtf8().constData());
		settings.layouts.removeAt(index);
		saveUnlessKept();
		return;
	}
	host.loadSnapshot(snapshot, LoadSource::Monitors, nullptr);
}

void MonitorFollower::keepMonitorsOnScreen(const MonitorSet &monitors)
{
	if (onScreenPath.isEmpty() || (lastOnScreen && monitorKey(*lastOnScreen) == monitorKey(monitors)) ||
	    !host.ensureSnapshotDirectory()) {
		return;
	}
	if (writeWholeFile(onScreenPath, monitorsOnScreenToJson(monitors), kMonitorsOnScreenFileName)) {
		lastOnScreen = monitors;
	}
}

void MonitorFollower::layoutLoaded(const LoadedLayout &loaded)
{
	// The layout kept across restarts, put back at start, is no choice of the user's for the monitors of now.
	if (changePending && loaded.chosen) {
		loadedWhilePending = true;
	}
	// The layout kept across restarts loads no snapshot: `last` stays what it was.
	const QString fileName = QFileInfo(loaded.path).fileName();
	if (!fileName.isEmpty() && loaded.chosen) {
		remember(operationMonitors.value_or(monitorsNow()), fileName);
	}
}

void MonitorFollower::remember(const MonitorSet &set, const QString &fileName)
{
	const MonitorKey key = monitorKey(set);
	const qsizetype index = indexOfMonitors(settings.layouts, key);
	if (index >= 0 && index == settings.layouts.size() - 1 && settings.layouts.at(index).snapshot == fileName) {
		return;
	}
	if (index >= 0) {
		settings.layouts.removeAt(index);
	} else if (settings.layouts.size() >= kMaxMonitorLayouts) {
		// The set used least recently goes.
		settings.layouts.removeFirst();
	}
	settings.layouts.append(MonitorLayout{set, fileName});
	// A file that could not be read is not replaced for this: the memory lives on until the option changes.
	saveSoon();
}

void MonitorFollower::setFollow(bool enabled)
{
	if (followAction) {
		followAction->setChecked(enabled);
	}
	if (host.isShuttingDown() || settings.follow == enabled) {
		return;
	}
	settings.follow = enabled;
	save();
}

void MonitorFollower::addAction(QWidget *list)
{
	followAction = new QAction(localeText("FollowMonitors"), list);
	followAction->setCheckable(true);
	followAction->setChecked(settings.follow);
	QObject::connect(followAction, &QAction::triggered, this, [this](bool checked) { setFollow(checked); });
	list->addAction(followAction);
}

bool MonitorFollower::moveSnapshot(const QString &from, const QString &to)
{
	bool changed = false;
	for (MonitorLayout &layout : settings.layouts) {
		if (layout.snapshot == from) {
			layout.snapshot = to;
			changed = true;
		}
	}
	settings.layouts.removeIf([](const MonitorLayout &layout) { return layout.snapshot.isEmpty(); });
	return changed;
}

void MonitorFollower::snapshotRenamed(const QString &oldPath, const QString &newPath)
{
	// A set left with the new name belonged to a file that is gone.
	const bool dropped = moveSnapshot(QFileInfo(newPath).fileName(), QString());
	const bool moved = moveSnapshot(QFileInfo(oldPath).fileName(), QFileInfo(newPath).fileName());
	if (dropped || moved) {
		saveUnlessKept();
	}
}

void MonitorFollower::snapshotDeleted(const QString &path)
{
	if (moveSnapshot(QFileInfo(path).fileName(), QString())) {
		saveUnlessKept();
	}
}

void MonitorFollower::dropSnapshotsOutside(const SnapshotFolder &folder)
{
	// A folder that could not be listed says nothing about its files.
	if (!folder.listed) {
		return;
	}
	QSet<QString> present;
	for (const FolderEntry &entry : folder.entries) {
		present.insert(entry.fileName);
	}
	if (settings.layouts.removeIf(
		    [&present](const MonitorLayout &layout) { return !present.contains(layout.snapshot); }) > 0) {
		saveUnlessKept();
	}
}
