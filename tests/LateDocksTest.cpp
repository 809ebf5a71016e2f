// Docks that arrive after a load, with real Qt: where they go, compared with the same load made with them there.
#include "latedocks/LateDocks.hpp"
#include "operations/LayoutCapture.hpp"
#include "operations/ApplyLayout.hpp"
#include "operations/DockWatcher.hpp"
#include "support/Arrangement.hpp"
#include "support/DockWindow.hpp"
#include "support/TestHost.hpp"

#include <QDockWidget>
#include <QLabel>
#include <QMainWindow>
#include <QTest>

#include <gtest/gtest.h>

#include <map>
#include <tuple>

namespace {

// Every dock by name: shown, floating, and its rectangle when shown.
using DockRects = std::map<std::string, std::tuple<bool, bool, QRect>>;

DockRects allDocks(QMainWindow *window)
{
	DockRects rects;
	for (const QDockWidget *dock : window->findChildren<QDockWidget *>()) {
		const bool shown = dock->isVisible() && (dock->isFloating() || !dock->visibleRegion().isEmpty());
		rects[dock->objectName().toStdString()] = {shown, dock->isFloating(),
							   shown ? dock->geometry() : QRect()};
	}
	return rects;
}

SnapshotData layoutOf(const TestLayout &layout)
{
	QMainWindow maker;
	buildDockWindow(&maker, obsCoreDockPlan(layout.place));
	layout.arrange(maker);
	QApplication::processEvents();
	return captureLayout(&maker, QString::fromLatin1(layout.name));
}

// Contents that need room, as OBS's controls and stats do.
void giveContentsRoom(QDockWidget *dock)
{
	const QString name = dock->objectName();
	dock->widget()->setMinimumSize(name == QLatin1String("statsDock") ? 650 : 150,
				       name == QLatin1String("controlsDock") ? 190 : 110);
}

// OBS's core docks but the one left out, in a window of its own size and place.
void buildWithout(QMainWindow &window, const QString &without)
{
	DockWindowPlan plan;
	for (const PlannedDock &dock : coreDocks(true)) {
		if (dock.name != without) {
			plan.docks.append(dock);
		}
	}
	plan.position = QPoint(80, 80);
	plan.size = QSize(1100, 740);
	for (QDockWidget *dock : buildDockWindow(&window, plan)) {
		giveContentsRoom(dock);
	}
}

// As OBS adds a dock for a plug-in: made as a child of the main window, named, added on the right, then hidden and
// floating.
QDockWidget *addAsObsDoes(QMainWindow &window, const QString &name)
{
	auto *dock = new QDockWidget(name, &window);
	dock->setObjectName(name);
	dock->setWidget(new QLabel(name));
	giveContentsRoom(dock);
	window.addDockWidget(Qt::RightDockWidgetArea, dock);
	dock->setVisible(false);
	dock->setFloating(true);
	return dock;
}

class WindowHost : public FeatureHost {
public:
	explicit WindowHost(QMainWindow *window) : mainWindow(window) {}

	bool operationsMayStart = true;
	bool running = false;

	bool isActive() const override { return true; }
	bool isShuttingDown() const override { return false; }
	QMainWindow *window() const override { return mainWindow; }
	bool canStartOperation() const override { return operationsMayStart && !running; }
	bool beginOperation() override
	{
		if (!canStartOperation()) {
			return false;
		}
		running = true;
		return true;
	}
	void endOperation() override { running = false; }
	LoadResult loadSnapshot(const QString &, LoadSource, QStringList *) override { return LoadResult::NotStarted; }
	LoadResult putLayoutBack(const LayoutMemento &, LoadSource) override { return LoadResult::NotStarted; }
	LayoutMemento currentLayout() const override { return LayoutMemento{}; }
	QString lastSnapshot() const override { return QString(); }
	QString snapshotPath(const QString &fileName) const override { return fileName; }

private:
	QMainWindow *mainWindow;
};

void settle()
{
	QTest::qWait(50);
}

} // namespace

TEST(LateDocksTest, ALateDockTakesThePlaceThatALoadWithItThereGivesIt)
{
	for (const TestLayout &layout : testLayouts()) {
		const SnapshotData data = layoutOf(layout);
		for (const PlannedDock &late : coreDocks(true)) {
			const std::string what = std::string(layout.name) + ", late " + late.name.toStdString();
			QMainWindow reference;
			buildWithout(reference, QString());
			ASSERT_TRUE(applyLayout(&reference, data)) << what;
			settle();

			QMainWindow window;
			buildWithout(window, late.name);
			WindowHost host(&window);
			DockWatcher watcher;
			watcher.start(&window);
			LateDocks lateDocks(host, watcher);
			lateDocks.start();
			ASSERT_TRUE(applyLayout(&window, data)) << what;
			lateDocks.layoutLoaded(LoadedLayout{{}, {}, data});
			EXPECT_EQ(lateDocks.waitingDocks(), QStringList{late.name}) << what;
			settle();
			addAsObsDoes(window, late.name);
			settle();
			EXPECT_EQ(allDocks(&window), allDocks(&reference)) << what;
			EXPECT_TRUE(lateDocks.waitingDocks().isEmpty()) << what;
			EXPECT_FALSE(host.running) << what;
		}
	}
}

// A desk's snapshot, loaded in a window that this smaller screen cuts down, gives the docks their shares of the window:
// a dock that arrives later takes the place, and the others the sizes, that the same load with it there gives.
TEST(LateDocksTest, OnASmallerScreenALateDockTakesThePlaceThatALoadWithItThereGivesIt)
{
	QMainWindow maker;
	buildDockWindow(&maker, obsCoreDockPlan(QRect(60, 60, 1280, 800)));
	ASSERT_EQ(arrangeDocks(&maker, {"left:scenesDock", "split:scenesDock:sourcesDock:v", "right:transitionsDock",
					"split:transitionsDock:controlsDock:v", "window:0,30,2560,1380",
					"width:scenesDock:640", "width:transitionsDock:512", "height:mixerDock:345",
					"height:sourcesDock:427", "height:controlsDock:627"}),
		  QString());
	const SnapshotData data = captureLayout(&maker, QStringLiteral("Desk"));
	for (const char *late : {"mixerDock", "sourcesDock"}) {
		QMainWindow reference;
		buildWithout(reference, QString());
		ASSERT_TRUE(applyLayout(&reference, data)) << late;
		settle();
		ASSERT_NE(reference.size(), maker.size()) << late;

		QMainWindow window;
		buildWithout(window, QString::fromLatin1(late));
		WindowHost host(&window);
		DockWatcher watcher;
		watcher.start(&window);
		LateDocks lateDocks(host, watcher);
		lateDocks.start();
		ASSERT_TRUE(applyLayout(&window, data)) << late;
		lateDocks.layoutLoaded(LoadedLayout{{}, {}, data});
		settle();
		addAsObsDoes(window, QString::fromLatin1(late));
		settle();
		EXPECT_EQ(allDocks(&window), allDocks(&reference)) << late;
		EXPECT_TRUE(lateDocks.waitingDocks().isEmpty()) << late;
	}
}

TEST(LateDocksTest, ALateDockIsPlacedOnlyWhileTheNamedDocksAreAsTheLoadLeftThem)
{
	const TestLayout &sides = testLayouts().at(3);
	ASSERT_STREQ(sides.name, "Sides");
	const SnapshotData data = layoutOf(sides);
	const struct {
		const char *what;
		// The dock that arrives, what happens between the load and its arrival, and whether it takes its place.
		const char *arriving;
		std::function<void(QMainWindow &, LateDocks &)> between;
		bool placed;
		const char *logged;
	} cases[] = {
		{"a dock that the snapshot does not name", "browserDock", nullptr, false, nullptr},
		{"the user hid a dock", "statsDock",
		 [](QMainWindow &window, LateDocks &) {
			 window.findChild<QDockWidget *>(QStringLiteral("mixerDock"))->hide();
		 },
		 false, "LateDocks: the docks have been arranged since the load; left where they were put: statsDock"},
		{"the user moved a dock to another side", "statsDock",
		 [](QMainWindow &window, LateDocks &) {
			 window.addDockWidget(Qt::TopDockWidgetArea,
					      window.findChild<QDockWidget *>(QStringLiteral("scenesDock")));
		 },
		 false, "LateDocks: the docks have been arranged since the load"},
		{"another load without missing docks came since", "statsDock",
		 [](QMainWindow &window, LateDocks &lateDocks) {
			 SnapshotData now = captureLayout(&window, QStringLiteral("now"));
			 lateDocks.layoutLoaded(LoadedLayout{{}, {}, now});
		 },
		 false, nullptr},
		{"the user swapped two docks of a side", "statsDock",
		 [](QMainWindow &window, LateDocks &) {
			 window.splitDockWidget(window.findChild<QDockWidget *>(QStringLiteral("transitionsDock")),
						window.findChild<QDockWidget *>(QStringLiteral("mixerDock")),
						Qt::Vertical);
		 },
		 false, "LateDocks: the docks have been arranged since the load"},
		{"the user put two docks into a tab group", "statsDock",
		 [](QMainWindow &window, LateDocks &) {
			 window.tabifyDockWidget(window.findChild<QDockWidget *>(QStringLiteral("mixerDock")),
						 window.findChild<QDockWidget *>(QStringLiteral("transitionsDock")));
		 },
		 false, "LateDocks: the docks have been arranged since the load"},
		{"the user floated a dock", "statsDock",
		 [](QMainWindow &window, LateDocks &) {
			 window.findChild<QDockWidget *>(QStringLiteral("mixerDock"))->setFloating(true);
		 },
		 false, "LateDocks: the docks have been arranged since the load"},
		{"the user moved the main window", "statsDock",
		 [](QMainWindow &window, LateDocks &) { window.move(140, 120); }, true,
		 "LateDocks: took their place: statsDock"},
		{"the main window was made 120 pixels wider", "statsDock",
		 [](QMainWindow &window, LateDocks &) { window.resize(window.width() + 120, window.height()); }, true,
		 "LateDocks: took their place: statsDock"},
		{"a dock that the snapshot does not name came first", "statsDock",
		 [](QMainWindow &window, LateDocks &) { addAsObsDoes(window, QStringLiteral("browserDock")); }, true,
		 "LateDocks: took their place: statsDock"},
	};
	for (const auto &c : cases) {
		QMainWindow window;
		buildWithout(window, QStringLiteral("statsDock"));
		WindowHost host(&window);
		DockWatcher watcher;
		watcher.start(&window);
		LateDocks lateDocks(host, watcher);
		lateDocks.start();
		ASSERT_TRUE(applyLayout(&window, data)) << c.what;
		lateDocks.layoutLoaded(LoadedLayout{{}, {}, data});
		settle();
		if (c.between) {
			c.between(window, lateDocks);
			settle();
		}
		const QRect frame = window.frameGeometry();
		DockRects before = allDocks(&window);
		testhost::clearLog();
		QDockWidget *dock = addAsObsDoes(window, QString::fromLatin1(c.arriving));
		settle();
		DockRects after = allDocks(&window);
		EXPECT_EQ(window.frameGeometry(), frame) << c.what;
		EXPECT_EQ(std::get<0>(after[c.arriving]), c.placed) << c.what;
		EXPECT_EQ(dock->isFloating(), !c.placed) << c.what;
		if (!c.placed) {
			after.erase(c.arriving);
			EXPECT_EQ(after, before) << c.what;
		} else {
			// What a load with the dock there gives, at the window's place and size of the moment.
			QMainWindow reference;
			buildWithout(reference, QString());
			ASSERT_TRUE(applyLayout(&reference, data)) << c.what;
			settle();
			WindowHost referenceHost(&reference);
			LateDocks unused(referenceHost, watcher);
			c.between(reference, unused);
			settle();
			SnapshotData here = data;
			here.geometry = reference.saveGeometry();
			ASSERT_TRUE(applyLayout(&reference, here)) << c.what;
			settle();
			EXPECT_EQ(window.geometry(), reference.geometry()) << c.what;
			EXPECT_EQ(after, allDocks(&reference)) << c.what;
		}
		if (c.logged) {
			EXPECT_TRUE(testhost::pluginLogLines().join(QLatin1Char('\n')).contains(QLatin1String(c.logged)))
				<< c.what << ": " << testhost::pluginLogLines().join(QLatin1Char('\n')).toStdString();
		}
	}
}

TEST(LateDocksTest, ADockThatArrivesWhileAnOperationRunsTakesItsPlaceWhenItEndsUnlessMovedByHand)
{
	const TestLayout &bottom = testLayouts().at(0);
	const SnapshotData data = layoutOf(bottom);
	for (const bool movedMeanwhile : {false, true}) {
		QMainWindow window;
		buildWithout(window, QStringLiteral("mixerDock"));
		WindowHost host(&window);
		DockWatcher watcher;
		watcher.start(&window);
		LateDocks lateDocks(host, watcher);
		lateDocks.start();
		ASSERT_TRUE(applyLayout(&window, data));
		lateDocks.layoutLoaded(LoadedLayout{{}, {}, data});
		settle();
		host.operationsMayStart = false;
		QDockWidget *dock = addAsObsDoes(window, QStringLiteral("mixerDock"));
		settle();
		EXPECT_TRUE(dock->isFloating()) << "placed while an operation runs";
		if (movedMeanwhile) {
			dock->show();
			dock->move(300, 300);
			settle();
		}
		host.operationsMayStart = true;
		lateDocks.operationEnded();
		settle();
		EXPECT_EQ(dock->isFloating(), movedMeanwhile) << movedMeanwhile;
		EXPECT_EQ(dock->isVisible() && !dock->visibleRegion().isEmpty(), true) << movedMeanwhile;
	}
}
