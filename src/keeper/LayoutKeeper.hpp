#pragma once

#include "module/FeatureHost.hpp"
#include "module/OperationListener.hpp"
#include "operations/EventFilters.hpp"
#include "store/SnapshotDocument.hpp"

#include <QElapsedTimer>
#include <QJsonValue>
#include <QLockFile>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <memory>
#include <optional>

class DockWatcher;
class QAction;
class QMainWindow;
class QWidget;

// What keeping the layout asks of the controller besides the window.
class KeeperHost : public virtual FeatureHost {
public:
	// Puts the kept layout onto the window as a load does, as an operation of its own, and leaves `last` as it is.
	// `changed` tells whether the window's saved geometry or state differ from before.
	virtual LoadResult putKeptLayout(const SnapshotData &kept, bool *changed) = 0;

protected:
	~KeeperHost() = default;
};

constexpr char kKeptLayoutFileName[] = "layout-on-screen.json";
// The option "Keep the layout across restarts": {"keepLayoutAcrossRestarts": true}.
constexpr char kKeeperFileName[] = "keeper.json";

// Keeps the layout on screen in a snapshot document of its own, so that a crash, an update or a reset of OBS's
// interface does not take it: written atomically once the window and its docks have been still for a second after a
// change, and, when a change waits, as the main window hides (to the tray) or is asked to close. A write waits while a
// mouse button that Qt sees is held (a dock dragged by Qt); a drag that the window manager makes (a window by its
// title bar) shows Qt only the moves, and a rest of a second in it is written. At start-up the file is put back
// unless a snapshot was loaded first; a mark beside it says that this is being done and stays until the layout has
// been still once, and a start that finds the mark sets the file aside instead. One OBS at a time keeps the file, the
// one that holds its lock; another running beside it neither puts it back nor writes it until the lock is free. A
// change is what the main window's own events and the reports of the watcher of its docks tell.
class LayoutKeeper : public QObject, public OperationListener {
	friend struct VelkinProbe;

public:
	static constexpr int kStillMs = 1000;

	LayoutKeeper(KeeperHost &host, DockWatcher &watcher);

	// The kept file; the mark and the file set aside lie beside it.
	void setPath(const QString &path);
	// The option from keeper.json at optionPath, read once; while that does not exist, the older word that
	// automation.json keeps, as automation read it. Unreadable, or in neither, the option is on.
	void readOption(const QString &optionPath, const QJsonValue &olderWord);
	bool enabled() const { return keeping; }
	// At activation: the kept layout goes back on the next turn of the event loop, after the start rule had its
	// turn, and the watching starts then. At shutdown the watching ends; nothing is written any more: a change that
	// waited was written when the main window was asked to close.
	void start();
	void stop();
	// The option changed: it is saved in keeper.json; on, the layout of now is kept at once; off, nothing is
	// watched or written.
	void setEnabled(bool enabled);
	// The option in the manager list's context menu.
	void addAction(QWidget *list);

	void layoutLoaded(const LoadedLayout &loaded) override;
	bool eventFilter(QObject *watched, QEvent *event) override;

	// For the benchmarks: the changes seen and the files written since start.
	qint64 eventsSeen() const { return events; }
	qint64 filesWritten() const { return writes; }

private:
	void putBack();
	void watch();
	void unwatch();
	// A change: the file is written once everything has been still for kStillMs.
	void changed();
	// Writes the layout of now unless it is what the file holds already; a hidden window only when asked, as it
	// hides or closes.
	void writeNow(bool evenHidden = false);
	// The layout put back at start has been still once, or OBS quits: the mark goes.
	void settled();
	// Whether this OBS holds the kept file's lock, taking it when it is free.
	bool ownsFile();
	// Moves the kept file out of the way, with a warning that says why.
	void setAside(const char *why);

	KeeperHost &host;
	DockWatcher &watcher;
	QString path;
	QString optionPath;
	bool keeping = true;
	QString markPath;
	QString asidePath;
	std::unique_ptr<QLockFile> lock;
	QPointer<QMainWindow> window;
	// The main window, whose events are watched.
	EventFilters filters{this};
	QTimer stillTimer;
	QElapsedTimer lastChange;
	// The layout that the file holds, as written or read.
	std::optional<SnapshotData> kept;
	// A change waits to be written.
	bool pending = false;
	// The mark is there until the layout put back has been still once.
	bool markStands = false;
	bool lockRefusedSaid = false;
	bool watching = false;
	bool started = false;
	bool loadedSinceStart = false;
	// The main window was asked to close: what happens to it from then on is OBS taking it down.
	bool closing = false;
	bool writeFailing = false;
	qint64 events = 0;
	qint64 writes = 0;
	QPointer<QAction> keepAction;
};
