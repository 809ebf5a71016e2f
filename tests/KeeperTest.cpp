#include "support/ControllerTest.hpp"
#include "support/Documents.hpp"

#include <QAction>
#include <QDockWidget>
#include <QFile>
#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QListWidget>
#include <QLockFile>
#include <QTest>

#include <algorithm>

namespace {

class KeeperTest : public WidthSnapshotTest {
protected:
	static QString keptPath() { return moduleConfigDirectory() + QStringLiteral("/layout-on-screen.json"); }
	static QString automationPath() { return moduleConfigDirectory() + QStringLiteral("/automation.json"); }

	// The log lines that hold the text.
	static qsizetype logged(const QString &text)
	{
		const QStringList lines = testhost::logLines();
		return std::count_if(lines.begin(), lines.end(),
				     [&](const QString &line) { return line.contains(text); });
	}

	void start()
	{
		makeController();
		standin::fireEvent(OBS_FRONTEND_EVENT_FINISHED_LOADING);
		QApplication::processEvents();
	}

	// Started, with the layout of now kept once it was still.
	void startAndKeep()
	{
		start();
		ASSERT_TRUE(QTest::qWaitFor([&] { return probe(velkin).keeper().filesWritten() == 1; }, 5000));
		ASSERT_TRUE(QTest::qWaitFor([&] { return !probe(velkin).keeperStillTimer().isActive(); }, 5000));
	}

	static QString optionPath() { return QFileInfo(keptPath()).dir().filePath(QStringLiteral("keeper.json")); }

	static QByteArray keptGeometry()
	{
		SnapshotData data;
		return readSnapshotFile(keptPath(), data) == SnapshotIoResult::Ok ? data.geometry : QByteArray();
	}
};

TEST_F(KeeperTest, AtStartTheKeptLayoutGoesBackUnlessSomethingStandsInItsWay)
{
	window->show();
	snapshotOfWidth(QStringLiteral("Start"), 580);
	const QByteArray kept = readTestBytes(snapshotOfWidth(QStringLiteral("Kept"), 700));
	const QString startPath = path(QStringLiteral("Start"));
	const QByteArray startRule = R"({"rules": [{"event": "obsStarted", "snapshot": "Start.json"}]})";
	struct Case {
		const char *what;
		QByteArray keptBytes;
		QByteArray automation;
		bool mark;
		int width;
		bool setAside;
		bool otherObs = false;
		QByteArray option = {};
		// The snapshot last loaded before the crash.
		QString last = {};
	};
	const QList<Case> cases{
		{"a crash or a reset", kept, {}, false, 700, false},
		{"a crash after a snapshot was loaded", kept, {}, false, 700, false, false, {}, startPath},
		{"the last start went down putting it back", kept, {}, true, 500, true},
		{"a damaged file", kept.left(kept.size() / 2), {}, false, 500, true},
		{"the start rule loads first", kept, startRule, false, 580, false},
		{"the option is off", kept, R"({"keepLayoutAcrossRestarts": false})", false, 500, false},
		{"the option is off in its own file, over the older word", kept,
		 R"({"keepLayoutAcrossRestarts": true})", false, 500, false, false,
		 R"({"keepLayoutAcrossRestarts": false})"},
		{"its own file cannot be read: the older word is gone", kept, R"({"keepLayoutAcrossRestarts": false})",
		 false, 700, false, false, "{"},
		{"another OBS runs and keeps it", kept, {}, false, 500, false, true},
	};
	const QString mark = keptPath() + QStringLiteral(".putting-back");
	for (const Case &c : cases) {
		SCOPED_TRACE(c.what);
		for (const QString &file :
		     {keptPath(), keptPath() + QStringLiteral(".set-aside"),
		      keptPath() + QStringLiteral(".putting-back"), automationPath(), optionPath(), settingsPath(),
		      moduleConfigDirectory() + QStringLiteral("/monitors.json")}) {
			QFile::remove(file);
		}
		if (!c.option.isEmpty()) {
			writeTestBytes(optionPath(), c.option);
		}
		writeTestBytes(keptPath(), c.keptBytes);
		if (!c.automation.isEmpty()) {
			writeTestBytes(automationPath(), c.automation);
		}
		if (c.mark) {
			writeTestBytes(keptPath() + QStringLiteral(".putting-back"), "1");
		}
		if (!c.last.isEmpty()) {
			writeTestBytes(settingsPath(),
				       QJsonDocument(QJsonObject{{QStringLiteral("last"), c.last}}).toJson());
		}
		window->resize(500, 500);
		QApplication::processEvents();
		QLockFile otherObs(keptPath() + QStringLiteral(".lock"));
		if (c.otherObs) {
			ASSERT_TRUE(otherObs.tryLock(0));
		}
		start();
		EXPECT_EQ(window->width(), c.width);
		EXPECT_EQ(QFileInfo::exists(keptPath() + QStringLiteral(".set-aside")), c.setAside);
		// A crash that the layout put back brings about a turn later is caught too: the mark stands until the
		// layout has been still once.
		EXPECT_EQ(QFileInfo::exists(mark), c.width == 700);
		EXPECT_TRUE(QTest::qWaitFor([&] { return !QFileInfo::exists(mark); }, 5000));
		if (c.otherObs) {
			// Nothing of this OBS goes into the other's file, until that one has gone.
			window->resize(520, 500);
			ASSERT_TRUE(
				QTest::qWaitFor([&] { return !probe(velkin).keeperStillTimer().isActive(); }, 5000));
			EXPECT_EQ(readTestBytes(keptPath()), c.keptBytes) << "written beside the other OBS";
			otherObs.unlock();
			window->resize(540, 500);
			EXPECT_TRUE(QTest::qWaitFor([&] { return keptGeometry() == window->saveGeometry(); }, 5000));
		}
		if (c.width == 700) {
			// No snapshot was loaded: `last` stays, the monitors remember no snapshot for the kept layout, and Undo
			// Last Load brings OBS's own layout back.
			EXPECT_EQ(probe(velkin).last(), c.last);
			EXPECT_TRUE(probe(velkin).monitorSettings().layouts.isEmpty());
			EXPECT_EQ(logged(QStringLiteral("Put back the layout on screen at the last exit or crash")), 1);
			EXPECT_EQ(probe(velkin).undo().undo(), LoadResult::Loaded);
			EXPECT_EQ(window->width(), 500);
		}
		delete velkin.data();
		testhost::clearLog();
	}
}

// A change that waits when the window goes into the tray or closes is kept then, and the tray's hidden window does not
// lose it: quit from the tray, the file holds the change.
TEST_F(KeeperTest, AChangeThatWaitsIsKeptAsTheWindowHidesOrCloses)
{
	const struct {
		const char *what;
		bool toTray;
	} cases[] = {{"hidden to the tray, then quit from there", true}, {"closed at once", false}};
	for (const auto &c : cases) {
		SCOPED_TRACE(c.what);
		QFile::remove(keptPath());
		window->resize(1000, 700);
		window->show();
		startAndKeep();
		window->resize(1120, 700);
		QApplication::processEvents();
		const QByteArray widened = window->saveGeometry();
		ASSERT_NE(keptGeometry(), widened);
		if (c.toTray) {
			window->hide();
			QApplication::processEvents();
			EXPECT_EQ(keptGeometry(), widened) << "not kept as the window went into the tray";
			// In the tray for longer than the wait for stillness.
			ASSERT_TRUE(
				QTest::qWaitFor([&] { return !probe(velkin).keeperStillTimer().isActive(); }, 5000));
		}
		window->close();
		QApplication::processEvents();
		EXPECT_EQ(keptGeometry(), widened);
		delete velkin.data();
	}
}

// While a mouse button that Qt sees is held, a dock may be in the middle of its drag: nothing is written until it is
// let go, however long the layout has been still.
TEST_F(KeeperTest, NothingIsWrittenWhileAMouseButtonIsHeld)
{
	window->show();
	ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
	startAndKeep();
	QTimer &still = probe(velkin).keeperStillTimer();
	// The still timer fired and started again for the held button: the check of the buttons was made.
	int checksWhileHeld = 0;
	const QMetaObject::Connection counting = QObject::connect(&still, &QTimer::timeout, [&] {
		if (still.isActive() && still.interval() == LayoutKeeper::kStillMs) {
			++checksWhileHeld;
		}
	});
	QWindow *handle = window->windowHandle();
	const QPoint inside = window->centralWidget()->geometry().center();
	QTest::mousePress(handle, Qt::LeftButton, {}, inside);
	ASSERT_EQ(QGuiApplication::mouseButtons(), Qt::LeftButton);
	window->resize(760, 540);
	QTest::qWaitFor([&] { return checksWhileHeld >= 1 || probe(velkin).keeper().filesWritten() > 1; }, 5000);
	EXPECT_EQ(probe(velkin).keeper().filesWritten(), 1) << "written while the button was held";
	EXPECT_GE(checksWhileHeld, 1);
	QTest::mouseRelease(handle, Qt::LeftButton, {}, inside);
	QObject::disconnect(counting);
	EXPECT_TRUE(QTest::qWaitFor([&] { return probe(velkin).keeper().filesWritten() == 2; }, 5000));
	EXPECT_EQ(keptGeometry(), window->saveGeometry());
}

// OBS's own restore gave the kept layout already: nothing is put back or undone, and a dock that the kept layout
// names and that comes later still takes its place in it.
TEST_F(KeeperTest, ALateDockTakesItsKeptPlaceWhenOBSGaveTheLayoutAlready)
{
	window->show();
	auto *browser = new QDockWidget(QStringLiteral("Browser"), window);
	browser->setObjectName(QStringLiteral("browserDock"));
	browser->setWidget(new QLabel(QStringLiteral("browser")));
	window->addDockWidget(Qt::LeftDockWidgetArea, browser);
	QApplication::processEvents();
	const SnapshotData kept = captureLayout(window, QStringLiteral("Layout on screen"));
	ASSERT_EQ(writeSnapshotFile(keptPath(), kept), SnapshotIoResult::Ok);
	delete browser;
	// OBS's restore at start, before the browser dock is made.
	ASSERT_TRUE(window->restoreState(kept.state));
	QApplication::processEvents();
	start();
	EXPECT_EQ(logged(QStringLiteral("Put back the layout on screen")), 0);
	EXPECT_TRUE(probe(velkin).undoHistory().isEmpty());

	// As OBS adds a browser dock: on the right, then hidden and floating.
	browser = new QDockWidget(QStringLiteral("Browser"), window);
	browser->setObjectName(QStringLiteral("browserDock"));
	browser->setWidget(new QLabel(QStringLiteral("browser")));
	window->addDockWidget(Qt::RightDockWidgetArea, browser);
	browser->setVisible(false);
	browser->setFloating(true);
	EXPECT_TRUE(QTest::qWaitFor([&] { return !browser->isFloating() && browser->isVisible(); }, 5000))
		<< "floating " << browser->isFloating() << ", shown " << browser->isVisible();
	EXPECT_EQ(window->dockWidgetArea(browser), Qt::LeftDockWidgetArea);
}

TEST_F(KeeperTest, AChangeIsKeptOnceStillAndNothingIsWrittenWithoutOne)
{
	window->show();
	start();
	window->resize(640, 480);
	ASSERT_TRUE(QTest::qWaitFor([&] { return QFileInfo::exists(keptPath()); }, 5000));
	SnapshotData data;
	ASSERT_EQ(readSnapshotFile(keptPath(), data), SnapshotIoResult::Ok);
	EXPECT_EQ(data.geometry, window->saveGeometry());
	EXPECT_EQ(data.state, window->saveState(0));
	EXPECT_EQ(data.docks, dockNames(window));
	EXPECT_EQ(probe(velkin).keeper().filesWritten(), 1);
	EXPECT_FALSE(probe(velkin).keeperStillTimer().isActive());

	// The same layout again is no change; a write that fails leaves the kept file as it was.
	probe(velkin).keepLayoutNow(keptPath());
	EXPECT_EQ(probe(velkin).keeper().filesWritten(), 1);
	const QByteArray before = readTestBytes(keptPath());
	window->resize(660, 480);
	probe(velkin).keepLayoutNow(keptPath() + QStringLiteral("/beneath-a-file"));
	EXPECT_EQ(readTestBytes(keptPath()), before);
	EXPECT_EQ(logged(QStringLiteral("The layout on screen cannot be kept")), 1);

	// Turned off in the manager's context menu: kept in keeper.json, and nothing is watched any more.
	velkin->showManagerDialog();
	QList<QAction *> actions = probe(velkin).snapshotList()->actions();
	auto keep = std::find_if(actions.begin(), actions.end(),
				 [](QAction *action) { return action->text() == localeText("KeepLayout"); });
	ASSERT_NE(keep, actions.end());
	(*keep)->trigger();
	EXPECT_FALSE((*keep)->isChecked());
	EXPECT_EQ(QJsonDocument::fromJson(readTestBytes(optionPath())).object(),
		  QJsonObject({{QStringLiteral("keepLayoutAcrossRestarts"), false}}));
	window->resize(700, 480);
	QApplication::processEvents();
	EXPECT_FALSE(probe(velkin).keeperStillTimer().isActive());
}

} // namespace
