#include "keeper/LayoutKeeper.hpp"
#include "base/Log.hpp"
#include "base/WholeFile.hpp"
#include "operations/DockWatcher.hpp"
#include "operations/LayoutCapture.hpp"

#include <QAction>
#include <QDir>
#include <QEvent>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMainWindow>
#include <QWidget>

#include <utility>

namespace {

// The name that the kept document carries; it is never listed among the snapshots.
const QString kKeptName = QStringLiteral("Layout on screen");
const QString kKeepLayoutKey = QStringLiteral("keepLayoutAcrossRestarts");

// The option as keeper.json at path holds it; nothing when the file is not there, is no regular file (a FIFO would
// block the read) or is over 4 MiB, or holds no such object.
std::optional<bool> readKeepOption(const QString &path)
{
	QFile file(path);
	const QFileInfo info(path);
	if (!info.isFile() || info.size() > 4 * 1024 * 1024 || !file.open(QIODevice::ReadOnly)) {
		return std::nullopt;
	}
	const QJsonValue value = QJsonDocument::fromJson(file.readAll()).object().value(kKeepLayoutKey);
	return value.isBool() ? std::optional<bool>(value.toBool()) : std::nullopt;
}

bool sameLayout(const SnapshotData &a, const SnapshotData &b)
{
	return a.geometry == b.geometry && a.state == b.state && a.docks == b.docks;
}

} // namespace

LayoutKeeper::LayoutKeeper(KeeperHost &host, DockWatcher &watcher) : host(host), watcher(watcher)
{
	stillTimer.setSingleShot(true);
	stillTimer.setInterval(kStillMs);
	QObject::connect(&stillTimer, &QTimer::timeout, this, [this] {
		// Changes came since the timer started: it runs on until a second after the last one.
		const qint64 remaining = kStillMs - lastChange.elapsed();
		if (remaining > 0) {
			stillTimer.start(int(remaining));
			return;
		}
		// A drag goes on while a button is held, even a still one: the write waits for its end.
		if (QGuiApplication::mouseButtons() != Qt::NoButton) {
			stillTimer.start(kStillMs);
			return;
		}
		writeNow();
	});
}

void LayoutKeeper::setPath(const QString &keptPath)
{
	path = keptPath;
	markPath = keptPath + QStringLiteral(".putting-back");
	asidePath = keptPath + QStringLiteral(".set-aside");
	lock = std::make_unique<QLockFile>(keptPath + QStringLiteral(".lock"));
	// Free only when its holder is gone: a lock of a process that died is taken over at once.
	lock->setStaleLockTime(0);
}

void LayoutKeeper::readOption(const QString &filePath, const QJsonValue &olderWord)
{
	optionPath = filePath;
	const QFileInfo info(filePath);
	if (!info.exists() && !info.isSymLink()) {
		// Until the option changes, the older file's word stands.
		keeping = olderWord.toBool(true);
		return;
	}
	const std::optional<bool> read = readKeepOption(filePath);
	if (!read) {
		velkinLog(LOG_WARNING, "%s could not be read: the layout is kept across restarts", kKeeperFileName);
	}
	keeping = read.value_or(true);
}

bool LayoutKeeper::ownsFile()
{
	if (!lock) {
		return false;
	}
	// A lock that cannot be made at all says nothing of another OBS: the write that follows reports its folder.
	if (lock->isLocked() || lock->tryLock(0) || lock->error() != QLockFile::LockFailedError) {
		return true;
	}
	if (!lockRefusedSaid) {
		lockRefusedSaid = true;
		velkinLog(LOG_INFO,
			  "Another OBS keeps the layout on screen in %s: this one neither puts it back nor keeps it "
			  "while that one runs",
			  QFile::encodeName(path).constData());
	}
	return false;
}

void LayoutKeeper::start()
{
	window = host.window();
	started = true;
	if (!window || path.isEmpty() || !keeping) {
		return;
	}
	// Queued behind the start rule's own turn, which the host's finished-loading event queued first.
	QMetaObject::invokeMethod(
		this,
		[this] {
			if (!started || !host.isActive() || !keeping) {
				return;
			}
			putBack();
			watch();
		},
		Qt::QueuedConnection);
}

void LayoutKeeper::stop()
{
	// Nothing is read from the window here: it may be in the middle of its destruction. The close of the main
	// window wrote what was pending.
	unwatch();
	started = false;
	if (lock && lock->isLocked()) {
		lock->unlock();
	}
}

void LayoutKeeper::setEnabled(bool enabled)
{
	keeping = enabled;
	if (!optionPath.isEmpty() && QDir().mkpath(QFileInfo(optionPath).absolutePath())) {
		writeWholeFile(optionPath, QJsonDocument(QJsonObject{{kKeepLayoutKey, enabled}}).toJson(),
			       kKeeperFileName);
	}
	if (keepAction) {
		keepAction->setChecked(enabled);
	}
	if (!started) {
		return;
	}
	if (enabled) {
		watch();
		writeNow();
	} else {
		unwatch();
	}
}

void LayoutKeeper::addAction(QWidget *list)
{
	keepAction = new QAction(localeText("KeepLayout"), list);
	keepAction->setCheckable(true);
	keepAction->setChecked(keeping);
	QObject::connect(keepAction, &QAction::triggered, this, [this](bool checked) { setEnabled(checked); });
	list->addAction(keepAction);
}

void LayoutKeeper::putBack()
{
	const QByteArray file = QFile::encodeName(path);
	if (!ownsFile()) {
		return;
	}
	if (QFileInfo::exists(markPath)) {
		// The last start went down while it put the kept layout back: it is not tried again.
		QFile::remove(markPath);
		setAside("OBS stopped while it was put back at the last start");
		return;
	}
	if (!QFileInfo::exists(path)) {
		return;
	}
	SnapshotData data;
	if (readSnapshotFile(path, data) != SnapshotIoResult::Ok) {
		setAside("it cannot be read");
		return;
	}
	kept = data;
	if (loadedSinceStart) {
		velkinLog(LOG_INFO,
			  "The snapshot loaded at start stands; the layout on screen at the last exit or crash "
			  "is not put back");
		return;
	}
	QFile mark(markPath);
	if (!mark.open(QIODevice::WriteOnly | QIODevice::Truncate) || mark.write("1", 1) != 1 || !mark.flush()) {
		velkinLog(LOG_WARNING,
			  "The layout on screen at the last exit or crash is not put back: %s cannot be written",
			  QFile::encodeName(markPath).constData());
		return;
	}
	mark.close();
	bool changed = false;
	const LoadResult result = host.putKeptLayout(data, &changed);
	// A layout put back can bring OBS down a turn later (a late answer of the window system, a late dock): the mark
	// stays until it has been still once.
	markStands = result == LoadResult::Loaded;
	if (!markStands) {
		QFile::remove(markPath);
	}
	if (result == LoadResult::RestoreFailed) {
		kept.reset();
		setAside("the window refused it");
	} else if (result == LoadResult::Loaded && changed) {
		velkinLog(LOG_INFO, "Put back the layout on screen at the last exit or crash (%s)", file.constData());
	}
}

void LayoutKeeper::setAside(const char *why)
{
	QFile::remove(asidePath);
	const bool moved = QFile::rename(path, asidePath);
	velkinLog(LOG_WARNING, "The layout on screen at the last exit or crash is not put back, %s: %s %s", why,
		  QFile::encodeName(path).constData(),
		  moved ? ("set aside as " + QFile::encodeName(asidePath)).constData() : "left as it is");
	kept.reset();
}

void LayoutKeeper::watch()
{
	if (watching || !window) {
		return;
	}
	watching = true;
	closing = false;
	filters.add(window);
	watcher.listen(this, [this](const DockReport &) { changed(); });
	// What came on screen before the watching began (a load at start, the layout put back) is kept too.
	changed();
}

void LayoutKeeper::settled()
{
	if (std::exchange(markStands, false)) {
		QFile::remove(markPath);
	}
}

void LayoutKeeper::unwatch()
{
	stillTimer.stop();
	pending = false;
	settled();
	if (!watching) {
		return;
	}
	watching = false;
	filters.removeAll();
	watcher.ignore(this);
}

bool LayoutKeeper::eventFilter(QObject *watched, QEvent *event)
{
	// Only the main window's events come here.
	switch (event->type()) {
	case QEvent::Close:
		if (watching) {
			// What follows an accepted close is OBS taking the window down, not the user's layout.
			if (pending) {
				writeNow(true);
			}
			closing = true;
			QMetaObject::invokeMethod(
				this,
				[this] {
					if (window && window->isVisible()) {
						closing = false;
					}
				},
				Qt::QueuedConnection);
		}
		break;
	case QEvent::Hide:
		// To the tray: the state of a hidden window is still the layout, and the change that waits goes now.
		if (pending && !closing) {
			writeNow(true);
		}
		break;
	case QEvent::Move:
	case QEvent::Resize:
	case QEvent::Show:
	case QEvent::WindowStateChange:
		changed();
		break;
	default:
		break;
	}
	return QObject::eventFilter(watched, event);
}

void LayoutKeeper::layoutLoaded(const LoadedLayout &loaded)
{
	if (loaded.chosen) {
		loadedSinceStart = true;
	}
	changed();
}

void LayoutKeeper::changed()
{
	if (!watching || closing) {
		return;
	}
	// A drag sends hundreds of events a second: each takes the time, and only the first starts the timer.
	++events;
	pending = true;
	lastChange.start();
	if (!stillTimer.isActive()) {
		stillTimer.start(kStillMs);
	}
}

void LayoutKeeper::writeNow(bool evenHidden)
{
	stillTimer.stop();
	if (!watching || closing || !window) {
		return;
	}
	settled();
	// The hides of a window going into the tray change nothing of its layout: they wait for its close.
	if (!evenHidden && !window->isVisible()) {
		return;
	}
	pending = false;
	if (!ownsFile()) {
		return;
	}
	const SnapshotData now = captureLayout(window, kKeptName);
	if (kept && sameLayout(*kept, now)) {
		return;
	}
	const SnapshotIoResult result = writeSnapshotFile(path, now);
	if (result != SnapshotIoResult::Ok) {
		// Said once until a write succeeds again; the file there stays as it was.
		if (!writeFailing) {
			velkinLog(LOG_WARNING, "The layout on screen cannot be kept in %s (error %d)",
				  QFile::encodeName(path).constData(), int(result));
		}
		writeFailing = true;
		return;
	}
	writeFailing = false;
	kept = now;
	++writes;
}
