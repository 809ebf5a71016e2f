// What each user action costs on OBS's UI thread, next to the unavoidable work it stands on: reading and
// parsing every snapshot document (F), or restoring the same blobs onto the window (R). scripts/bench turns
// the results into ratios.
#include "module/Velkin.hpp"
#include "menu/LayoutPicture.hpp"
#include "operations/LayoutCapture.hpp"
#include "settings/SettingsFile.hpp"
#include "store/SnapshotCatalogue.hpp"
#include "store/SnapshotDocument.hpp"
#include "store/SnapshotNames.hpp"
#include "support/DockWindow.hpp"
#include "support/FrontendStandIn.hpp"
#include "support/TestHost.hpp"
#include "support/VelkinProbe.hpp"

#include <QApplication>
#include <QDir>
#include <QDockWidget>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QListWidget>
#include <QMainWindow>
#include <QMoveEvent>

#include <benchmark/benchmark.h>

#include <malloc.h>

#include <fstream>
#include <map>
#include <memory>
#include <string>

namespace {

QMainWindow *window = nullptr;

// A main window with a dozen docks: most docked, two tabified pairs, two floating.
void buildWindow()
{
	window = new QMainWindow;
	DockWindowPlan plan;
	plan.docks = coreDocks();
	for (const char *name : {"chatDock", "eventsDock", "captionsDock", "timerDock", "browserDock", "notesDock"}) {
		plan.docks.append(PlannedDock(QString::fromLatin1(name)));
	}
	// Every third dock on the left, from the first.
	for (qsizetype i = 0; i < plan.docks.size(); i += 3) {
		plan.docks[i].area = Qt::LeftDockWidgetArea;
	}
	plan.tabified = {{QStringLiteral("sourcesDock"), QStringLiteral("mixerDock")},
			 {QStringLiteral("eventsDock"), QStringLiteral("captionsDock")}};
	plan.floating = {{QStringLiteral("statsDock")}, {QStringLiteral("notesDock")}};
	plan.position = QPoint(80, 80);
	plan.size = QSize(1280, 760);
	buildDockWindow(window, plan);
}

// A page-cached directory with n snapshot documents of the window, made once per n.
QString snapshotDirectory(int n)
{
	static std::map<int, QString> made;
	auto it = made.find(n);
	if (it != made.end()) {
		return it->second;
	}
	const QString dir = testhost::scratchDirectory() + QStringLiteral("/snapshots-%1").arg(n);
	QDir().mkpath(dir);
	for (int i = 0; i < n; ++i) {
		const QString name = QStringLiteral("Layout %1").arg(i, 4, 10, QLatin1Char('0'));
		writeSnapshotFile(snapshotFilePath(dir, name), captureLayout(window, name));
	}
	made[n] = dir;
	return dir;
}

// A ready controller working on the directory of n snapshots.
std::unique_ptr<Velkin> controllerFor(const QString &dir)
{
	auto velkin = std::make_unique<Velkin>(window);
	probe(velkin.get()).snapshotDirectory() = dir;
	probe(velkin.get()).settingsPath() = testhost::scratchDirectory() + QStringLiteral("/settings.json");
	probe(velkin.get()).automationPath() = testhost::scratchDirectory() + QStringLiteral("/automation.json");
	probe(velkin.get()).ready() = true;
	return velkin;
}

void BM_Floor(benchmark::State &state)
{
	const QString dir = snapshotDirectory(int(state.range(0)));
	for (auto _ : state) {
		const QStringList files = QDir(dir).entryList({QStringLiteral("*.json")}, QDir::Files, QDir::Name);
		for (const QString &file : files) {
			QFile f(dir + QLatin1Char('/') + file);
			f.open(QIODevice::ReadOnly);
			benchmark::DoNotOptimize(QJsonDocument::fromJson(f.readAll()));
		}
	}
}

void BM_Scan(benchmark::State &state)
{
	const QString dir = snapshotDirectory(int(state.range(0)));
	for (auto _ : state) {
		benchmark::DoNotOptimize(scanSnapshots(dir, {}));
	}
}

void BM_RefreshFirst(benchmark::State &state)
{
	const QString dir = snapshotDirectory(int(state.range(0)));
	for (auto _ : state) {
		state.PauseTiming();
		auto velkin = controllerFor(dir);
		state.ResumeTiming();
		velkin->refreshSnapshotList(QString());
		state.PauseTiming();
		velkin.reset();
		state.ResumeTiming();
	}
}

void BM_Refresh(benchmark::State &state)
{
	auto velkin = controllerFor(snapshotDirectory(int(state.range(0))));
	velkin->refreshSnapshotList(QString());
	for (auto _ : state) {
		velkin->refreshSnapshotList(QString());
	}
}

long residentKiB(const char *field)
{
	std::ifstream status("/proc/self/status");
	std::string line;
	while (std::getline(status, line)) {
		if (line.rfind(field, 0) == 0) {
			return std::stol(line.substr(std::string(field).size()));
		}
	}
	return 0;
}

void BM_RefreshDialog(benchmark::State &state)
{
	// The dialog opens idle on an empty folder; the peak memory of filling it is measured once.
	const QString empty = testhost::scratchDirectory() + QStringLiteral("/empty");
	QDir().mkpath(empty);
	auto velkin = controllerFor(empty);
	velkin->showManagerDialog();
	QApplication::processEvents();
	probe(velkin.get()).snapshotDirectory() = snapshotDirectory(int(state.range(0)));
	// Freed memory goes back to the system first, so that the peak counts only what the refresh needs.
	malloc_trim(0);
	const long idle = residentKiB("VmRSS:");
	std::ofstream("/proc/self/clear_refs") << "5";
	velkin->refreshSnapshotList(QString());
	QApplication::processEvents();
	state.counters["peak_added_KiB"] = double(residentKiB("VmHWM:") - idle);
	for (auto _ : state) {
		velkin->refreshSnapshotList(QString());
		// Painting belongs to the event loop, not to the refresh.
		state.PauseTiming();
		QApplication::processEvents();
		state.ResumeTiming();
	}
}

void BM_Validate(benchmark::State &state)
{
	const QString dir = snapshotDirectory(int(state.range(0)));
	for (auto _ : state) {
		benchmark::DoNotOptimize(validateSnapshotName(dir, QStringLiteral("A brand new layout"), QString()));
	}
}

// Save New from the accepted name to the refreshed list and the saved settings. The directory holds one
// snapshot fewer than the size, so that the new one fits under the limit.
void BM_SaveNew(benchmark::State &state)
{
	const int n = int(state.range(0));
	const QString dir = testhost::scratchDirectory() + QStringLiteral("/save-%1").arg(n);
	QDir().mkpath(dir);
	for (const QString &file : QDir(snapshotDirectory(n)).entryList(QDir::Files).mid(1)) {
		QFile::copy(snapshotDirectory(n) + QLatin1Char('/') + file, dir + QLatin1Char('/') + file);
	}
	auto velkin = controllerFor(dir);
	velkin->refreshSnapshotList(QString());
	const QString name = QStringLiteral("A brand new layout");
	for (auto _ : state) {
		const QString path = probe(velkin.get()).storeSnapshot(captureLayout(window, name), QString());
		probe(velkin.get()).last() = path;
		velkin->saveSettings();
		state.PauseTiming();
		QFile::remove(path);
		velkin->refreshSnapshotList(QString());
		state.ResumeTiming();
	}
}

void BM_SaveSettings(benchmark::State &state)
{
	auto velkin = controllerFor(snapshotDirectory(int(state.range(0))));
	probe(velkin.get()).settingsPath() = testhost::scratchDirectory() + QStringLiteral("/settings.json");
	velkin->refreshSnapshotList(QString());
	const QJsonArray binding{QJsonObject{{QStringLiteral("key"), QStringLiteral("OBS_KEY_F9")}}};
	for (const obs_hotkey_id id : probe(velkin.get()).loadHotkeys()) {
		hotkeyBindingsFromJson(id, binding);
	}
	for (auto _ : state) {
		velkin->saveSettings();
	}
}

// Stored layouts of the window, loaded in turn: two that show the same docks, the first again with one dock
// hidden, and the first again with the docks at other sizes (every dock in its place).
struct StoredLayouts {
	QString paths[4];
	SnapshotData data[4];
};

const StoredLayouts &storedLayouts()
{
	static StoredLayouts layouts = [] {
		StoredLayouts made;
		const QString dir = testhost::scratchDirectory() + QStringLiteral("/two");
		QDir().mkpath(dir);
		auto *timer = window->findChild<QDockWidget *>(QStringLiteral("timerDock"));
		for (int i = 0; i < 3; ++i) {
			auto *dock = window->findChild<QDockWidget *>(QStringLiteral("controlsDock"));
			window->addDockWidget(i == 1 ? Qt::LeftDockWidgetArea : Qt::RightDockWidgetArea, dock);
			window->resize(i == 1 ? QSize(1100, 700) : QSize(1280, 760));
			timer->setVisible(i != 2);
			QApplication::processEvents();
			made.data[i] = captureLayout(window, QStringLiteral("Layout %1").arg(i));
			made.paths[i] = snapshotFilePath(dir, made.data[i].name);
			writeSnapshotFile(made.paths[i], made.data[i]);
		}
		timer->show();
		window->restoreGeometry(made.data[0].geometry);
		window->restoreState(made.data[0].state, 0);
		QApplication::processEvents();
		auto *controls = window->findChild<QDockWidget *>(QStringLiteral("controlsDock"));
		window->resizeDocks({controls}, {controls->width() + 60}, Qt::Horizontal);
		QApplication::processEvents();
		made.data[3] = captureLayout(window, QStringLiteral("Layout 3"));
		made.paths[3] = snapshotFilePath(dir, made.data[3].name);
		writeSnapshotFile(made.paths[3], made.data[3]);
		return made;
	}();
	return layouts;
}

void BM_RestoreFloor(benchmark::State &state)
{
	const StoredLayouts &layouts = storedLayouts();
	int next = 0;
	for (auto _ : state) {
		window->restoreGeometry(layouts.data[next].geometry);
		window->restoreState(layouts.data[next].state, 0);
		QApplication::processEvents();
		next ^= 1;
	}
}

void BM_ReadOne(benchmark::State &state)
{
	const StoredLayouts &layouts = storedLayouts();
	for (auto _ : state) {
		SnapshotData data;
		benchmark::DoNotOptimize(readSnapshotFile(layouts.paths[0], data));
	}
}

// Loads the first stored layout and the other one in turn.
void loadInTurn(benchmark::State &state, int other)
{
	const StoredLayouts &layouts = storedLayouts();
	auto velkin = controllerFor(snapshotDirectory(10));
	int next = 0;
	for (auto _ : state) {
		velkin->loadSnapshot(layouts.paths[next]);
		QApplication::processEvents();
		next = next == 0 ? other : 0;
	}
}

void BM_LoadSnapshot(benchmark::State &state)
{
	loadInTurn(state, 1);
}

// Every load shows or hides a dock, which restores the state a second time.
void BM_LoadSnapshotShowingADock(benchmark::State &state)
{
	loadInTurn(state, 2);
}

// Every load leaves each dock in its place and gives the docks other sizes: no restoreState.
void BM_LoadSnapshotInPlace(benchmark::State &state)
{
	loadInTurn(state, 3);
}

// The picture of a layout for a tool tip: a stand-in window restores the snapshot, and the boxes are drawn.
void BM_DrawLayoutPicture(benchmark::State &state)
{
	const StoredLayouts &layouts = storedLayouts();
	QHash<QString, QString> titles;
	for (const QDockWidget *dock : window->findChildren<QDockWidget *>()) {
		titles.insert(dock->objectName(), dock->windowTitle());
	}
	for (auto _ : state) {
		const std::optional<LayoutPictureGeometry> geometry = layoutPictureGeometry(layouts.data[0], titles);
		benchmark::DoNotOptimize(drawLayoutPicture(*geometry, LayoutPictureStyle{}));
	}
}

// A floating dock dragged: the move events that it gets, each handled by whatever watches it. Without the watching of
// the layout to keep, then with it.
void dragEvents(benchmark::State &state, bool watched)
{
	auto velkin = controllerFor(snapshotDirectory(10));
	if (watched) {
		probe(velkin.get()).watchForKeeping();
	}
	auto *dock = window->findChild<QDockWidget *>(QStringLiteral("statsDock"));
	int step = 0;
	for (auto _ : state) {
		const QPoint at(300 + (step++ & 63), 200);
		QMoveEvent move(at, at - QPoint(1, 0));
		QCoreApplication::sendEvent(dock, &move);
	}
	state.SetItemsProcessed(state.iterations());
}

void BM_DragEventsFloor(benchmark::State &state)
{
	dragEvents(state, false);
}

void BM_DragEventsWatched(benchmark::State &state)
{
	dragEvents(state, true);
}

// A plug-in's widgets made children of the main window, a hundred in a turn of the event loop, and deleted: without
// the watching of the docks, then with it. An item is one child.
void childAdded(benchmark::State &state, bool watched)
{
	constexpr int kChildren = 100;
	auto velkin = controllerFor(snapshotDirectory(10));
	if (watched) {
		probe(velkin.get()).watchForKeeping();
	}
	QApplication::processEvents();
	QList<QWidget *> children;
	for (auto _ : state) {
		for (int i = 0; i < kChildren; ++i) {
			children.append(new QWidget(window));
		}
		QApplication::processEvents();
		qDeleteAll(children);
		children.clear();
	}
	state.SetItemsProcessed(state.iterations() * kChildren);
}

void BM_ChildAddedFloor(benchmark::State &state)
{
	childAdded(state, false);
}

void BM_ChildAddedWatched(benchmark::State &state)
{
	childAdded(state, true);
}

// One write of the layout on screen: taken from the window and written atomically.
void BM_KeepLayoutWrite(benchmark::State &state)
{
	auto velkin = controllerFor(snapshotDirectory(10));
	const QString path = testhost::scratchDirectory() + QStringLiteral("/layout-on-screen.json");
	for (auto _ : state) {
		probe(velkin.get()).forgetKeptLayout();
		probe(velkin.get()).keepLayoutNow(path);
	}
}

} // namespace

BENCHMARK(BM_Floor)->Arg(10)->Arg(100)->Arg(1000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Scan)->Arg(10)->Arg(100)->Arg(1000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RefreshFirst)->Arg(10)->Arg(100)->Arg(1000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Refresh)->Arg(10)->Arg(100)->Arg(1000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RefreshDialog)->Arg(10)->Arg(100)->Arg(1000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Validate)->Arg(10)->Arg(100)->Arg(1000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SaveNew)->Arg(10)->Arg(100)->Arg(1000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SaveSettings)->Arg(1000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RestoreFloor)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadOne)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadSnapshot)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadSnapshotShowingADock)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadSnapshotInPlace)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DrawLayoutPicture)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DragEventsFloor)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DragEventsWatched)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ChildAddedFloor)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ChildAddedWatched)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_KeepLayoutWrite)->Unit(benchmark::kMillisecond);

int main(int argc, char **argv)
{
	QApplication app(argc, argv);
	benchmark::Initialize(&argc, argv);
	if (!testhost::start()) {
		return 1;
	}
	standin::mainWindow = nullptr;
	buildWindow();
	benchmark::RunSpecifiedBenchmarks();
	benchmark::Shutdown();
	delete window;
	testhost::stop();
	return 0;
}
