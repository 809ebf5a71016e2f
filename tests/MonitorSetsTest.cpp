// Sets of monitors: which sets are the same, their memory in monitors.json, and the follow of the controller.
#include "automation/AutomationFile.hpp"
#include "monitors/MonitorSets.hpp"
#include "operations/LayoutCapture.hpp"
#include "support/ControllerTest.hpp"
#include "support/Documents.hpp"
#include "support/DockWindow.hpp"
#include "support/Modal.hpp"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

#include <gtest/gtest.h>

namespace {

const MonitorScreen kLeft{QStringLiteral("LEFT"), {}, {}, {}, QRect(0, 0, 1600, 1000)};
const MonitorScreen kRight{QStringLiteral("RIGHT"), {}, {}, {}, QRect(1600, 0, 1280, 1024)};
// Two monitors on the same port at the same resolution, told apart by what they say they are.
const MonitorScreen kHome{QStringLiteral("HDMI-1"), QStringLiteral("DEL"), QStringLiteral("U2415"),
			  QStringLiteral("7MT01"), QRect(1920, 0, 1920, 1200)};
const MonitorScreen kLaptop{
	QStringLiteral("eDP-1"), QStringLiteral("BOE"), QStringLiteral("0x0A1C"), {}, QRect(0, 0, 1920, 1080)};

MonitorScreen with(MonitorScreen screen, const QRect &geometry, const QString &serial = QString())
{
	screen.geometry = geometry;
	if (!serial.isNull()) {
		screen.serial = serial;
	}
	return screen;
}

QJsonArray parsed(const char *json)
{
	return QJsonDocument::fromJson(json).array();
}

} // namespace

TEST(MonitorSetsTest, ASetIsWhatTheMonitorsAreAndHowTheyStandNotTheirPixels)
{
	const struct {
		const char *what;
		MonitorSet a;
		MonitorSet b;
		bool same;
	} cases[] = {
		{"the same screens", {kLeft, kRight}, {kLeft, kRight}, true},
		{"listed the other way round", {kLeft, kRight}, {kRight, kLeft}, true},
		{"one screen fewer", {kLeft, kRight}, {kLeft}, false},
		{"another connector",
		 {kLeft},
		 {MonitorScreen{QStringLiteral("HDMI-1"), {}, {}, {}, kLeft.geometry}},
		 false},
		{"the same port, another serial",
		 {kLaptop, kHome},
		 {kLaptop, with(kHome, kHome.geometry, QStringLiteral("9XK22"))},
		 false},
		{"the same monitor on another port",
		 {kLaptop, kHome},
		 {kLaptop,
		  MonitorScreen{QStringLiteral("DP-2"), kHome.manufacturer, kHome.model, kHome.serial, kHome.geometry}},
		 true},
		{"the same monitors at another resolution",
		 {kLaptop, kHome},
		 {with(kLaptop, QRect(0, 0, 1280, 720)), with(kHome, QRect(1280, 0, 1920, 1200))},
		 true},
		{"one monitor at another resolution", {kLeft}, {with(kLeft, QRect(0, 0, 800, 600))}, true},
		{"left and right swapped",
		 {kLeft, kRight},
		 {with(kLeft, QRect(1280, 0, 1600, 1000)), with(kRight, QRect(0, 0, 1280, 1024))},
		 false},
		{"one above the other", {kLeft, kRight}, {kLeft, with(kRight, QRect(0, 1000, 1280, 1024))}, false},
		{"the same screen twice is not one screen", {kLeft, kLeft}, {kLeft}, false},
		{"no screens at all", {}, {}, true},
	};
	for (const auto &c : cases) {
		EXPECT_EQ(monitorKey(c.a) == monitorKey(c.b), c.same) << c.what;
		const QList<MonitorLayout> layouts{MonitorLayout{c.a, QStringLiteral("A.json")}};
		EXPECT_EQ(indexOfMonitors(layouts, monitorKey(c.b)), c.same ? 0 : -1) << c.what;
	}
	// What Qt says a monitor is counts over its connector; without any of it, the connector is all there is.
	EXPECT_NE(monitorIdentity(kHome), kHome.name);
	EXPECT_EQ(monitorIdentity(kLeft), kLeft.name);
}

TEST(MonitorSetsTest, TheMemoryKeepsOnlyWhatItCanUse)
{
	const struct {
		const char *what;
		const char *json;
		QList<MonitorLayout> kept;
	} cases[] = {
		{"two sets of an older file, with the name and rectangle alone",
		 R"([{"screens": [{"name": "LEFT", "x": 0, "y": 0, "width": 1600, "height": 1000},
		                  {"name": "RIGHT", "x": 1600, "y": 0, "width": 1280, "height": 1024}],
		      "snapshot": "Desk.json"},
		     {"screens": [{"name": "LEFT", "x": 0, "y": 0, "width": 1600, "height": 1000}], "snapshot": "Road.json"}])",
		 {MonitorLayout{{kLeft, kRight}, QStringLiteral("Desk.json")},
		  MonitorLayout{{kLeft}, QStringLiteral("Road.json")}}},
		{"what the monitor is",
		 R"([{"screens": [{"name": "HDMI-1", "manufacturer": "DEL", "model": "U2415", "serial": "7MT01",
		                   "x": 1920, "y": 0, "width": 1920, "height": 1200}], "snapshot": "Home.json"}])",
		 {MonitorLayout{{kHome}, QStringLiteral("Home.json")}}},
		{"a path to another folder",
		 R"([{"screens": [{"name": "LEFT", "x": 0, "y": 0, "width": 1600, "height": 1000}],
		      "snapshot": "../Desk.json"}])",
		 {}},
		{"no screens", R"([{"screens": [], "snapshot": "Desk.json"}])", {}},
		{"a screen without a size",
		 R"([{"screens": [{"name": "LEFT", "x": 0, "y": 0, "width": 0, "height": 1000}],
		      "snapshot": "Desk.json"}])",
		 {}},
		{"a screen without a name",
		 R"([{"screens": [{"x": 0, "y": 0, "width": 1600, "height": 1000}],
		      "snapshot": "Desk.json"}])",
		 {}},
		{"a fractional place",
		 R"([{"screens": [{"name": "LEFT", "x": 0.5, "y": 0, "width": 1600, "height": 1000}],
		      "snapshot": "Desk.json"}])",
		 {}},
		{"the same set twice, at two resolutions: the one used last counts",
		 R"([{"screens": [{"name": "LEFT", "x": 0, "y": 0, "width": 1600, "height": 1000}], "snapshot": "A.json"},
		     {"screens": [{"name": "LEFT", "x": 0, "y": 0, "width": 800, "height": 600}], "snapshot": "B.json"}])",
		 {MonitorLayout{{with(kLeft, QRect(0, 0, 800, 600))}, QStringLiteral("B.json")}}},
		{"not a list of objects", R"([1, "x", null])", {}},
	};
	for (const auto &c : cases) {
		const QList<MonitorLayout> kept = monitorLayoutsFromJson(parsed(c.json));
		EXPECT_EQ(kept, c.kept) << c.what;
		EXPECT_EQ(monitorLayoutsFromJson(monitorLayoutsToJson(kept)), kept) << c.what << ", written and read";
	}

	// Of more than 64 sets, the 64 used most recently stay, in their order.
	QJsonArray many;
	for (int i = 0; i < kMaxMonitorLayouts + 3; ++i) {
		many.append(QJsonObject{{QStringLiteral("screens"),
					 QJsonArray{QJsonObject{{QStringLiteral("name"), QStringLiteral("S%1").arg(i)},
								{QStringLiteral("x"), 0},
								{QStringLiteral("y"), 0},
								{QStringLiteral("width"), 800},
								{QStringLiteral("height"), 600}}}},
					{QStringLiteral("snapshot"), QStringLiteral("%1.json").arg(i)}});
	}
	const QList<MonitorLayout> newest = monitorLayoutsFromJson(many);
	ASSERT_EQ(newest.size(), kMaxMonitorLayouts);
	EXPECT_EQ(newest.first().snapshot, QStringLiteral("3.json"));
	EXPECT_EQ(newest.last().snapshot, QStringLiteral("66.json"));
}

namespace {

// A controller whose follower sees the monitors the test gives it.
class MonitorFollowerTest : public WidthSnapshotTest {
protected:
	static QString monitorsPath() { return moduleConfigDirectory() + QStringLiteral("/monitors.json"); }
	static QString automationPath() { return moduleConfigDirectory() + QStringLiteral("/automation.json"); }

	// Starts on these monitors, once the start-up's settle has passed.
	void start(const MonitorSet &monitors)
	{
		screens = monitors;
		makeController();
		probe(velkin).monitorsNow() = [this] { return screens; };
		standin::fireEvent(OBS_FRONTEND_EVENT_FINISHED_LOADING);
		ASSERT_TRUE(QTest::qWaitFor([this] { return probe(velkin).monitorsIdle(); }, 5000));
	}

	// The monitors change and have settled.
	void change(const MonitorSet &monitors)
	{
		screens = monitors;
		probe(velkin).screensChanged();
		ASSERT_TRUE(QTest::qWaitFor([this] { return probe(velkin).screensSettled(); }, 5000));
	}

	QString remembered(const MonitorSet &set)
	{
		const QList<MonitorLayout> &layouts = probe(velkin).monitorSettings().layouts;
		const qsizetype index = indexOfMonitors(layouts, monitorKey(set));
		return index < 0 ? QString() : layouts.at(index).snapshot;
	}

	MonitorSet screens;
};

} // namespace

// The snapshot of the monitors there are now is remembered at every load; a burst of loads writes monitors.json
// once, after it, and a change still waiting at the exit is written then.
TEST_F(MonitorFollowerTest, TheMemoryIsWrittenAfterABurstOfLoadsAndAtTheExit)
{
	const QStringList names{QStringLiteral("One"), QStringLiteral("Two"), QStringLiteral("Three")};
	for (int i = 0; i < names.size(); ++i) {
		snapshotOfWidth(names.at(i), 600 + 100 * i);
	}
	start(currentMonitors());
	ASSERT_FALSE(QFileInfo::exists(monitorsPath()));
	const auto saved = [] {
		const std::optional<MonitorSettings> settings = readMonitorSettings(monitorsPath());
		const qsizetype index =
			settings ? indexOfMonitors(settings->layouts, monitorKey(currentMonitors())) : -1;
		return index < 0 ? QString() : settings->layouts.at(index).snapshot;
	};

	for (const QString &name : names) {
		ASSERT_EQ(velkin->loadSnapshot(path(name), LoadSource::Remote), LoadResult::Loaded);
		EXPECT_FALSE(QFileInfo::exists(monitorsPath())) << "written at the load of " << name.toStdString();
	}
	EXPECT_TRUE(QTest::qWaitFor([&] { return saved() == QStringLiteral("Three.json"); }, 5000)) << saved().toStdString();

	ASSERT_EQ(velkin->loadSnapshot(path(names.first()), LoadSource::Remote), LoadResult::Loaded);
	EXPECT_EQ(saved(), QStringLiteral("Three.json"));
	velkin->shutdown();
	EXPECT_EQ(saved(), QStringLiteral("One.json"));
}

// When the monitors settle after a change, the snapshot of the new set loads only when it is another set.
TEST_F(MonitorFollowerTest, OnlyAnotherSetLoadsItsSnapshot)
{
	snapshotOfWidth(QStringLiteral("Here"), 600);
	snapshotOfWidth(QStringLiteral("There"), 700);
	const MonitorSet office{kLaptop, with(kHome, kHome.geometry, QStringLiteral("9XK22"))};
	const struct {
		const char *what;
		MonitorSet after;
		bool loads;
	} cases[] = {
		{"the same monitors at another resolution",
		 {with(kLaptop, QRect(0, 0, 1280, 720)), with(kHome, QRect(1280, 0, 1920, 1200))},
		 false},
		{"the office's monitor on the same port", office, true},
		{"the two monitors the other way round",
		 {with(kLaptop, QRect(1920, 0, 1920, 1080)), with(kHome, QRect(0, 0, 1920, 1200))},
		 true},
	};
	for (const auto &c : cases) {
		QFile::remove(monitorsPath());
		start(c.after);
		ASSERT_EQ(velkin->loadSnapshot(path(QStringLiteral("There")), LoadSource::Remote), LoadResult::Loaded);
		change({kLaptop, kHome});
		ASSERT_EQ(velkin->loadSnapshot(path(QStringLiteral("Here")), LoadSource::Remote), LoadResult::Loaded);
		change(c.after);
		EXPECT_EQ(window->width(), c.loads ? 700 : 600) << c.what;
		EXPECT_EQ(remembered(c.after), c.loads ? QStringLiteral("There.json") : QStringLiteral("Here.json"))
			<< c.what;
		delete velkin.data();
	}
}

// A monitor goes while a load asks about its missing docks: the load is remembered for the monitors it was made on,
// and nothing loads over it once the question has gone.
TEST_F(MonitorFollowerTest, AChangeDuringALoadsQuestionLoadsNothingOverIt)
{
	snapshotOfWidth(QStringLiteral("Road"), 600);
	const QString asks = snapshotOfWidth(QStringLiteral("Desk"), 700, {QStringLiteral("ghostDock")});
	start({kLaptop});
	ASSERT_EQ(velkin->loadSnapshot(path(QStringLiteral("Road")), LoadSource::Remote), LoadResult::Loaded);
	change({kLaptop, kHome});
	probe(velkin).undoHistory().clear();

	const QList<ModalRecord> asked = answerModals(
		[this](QWidget *modal) {
			change({kLaptop});
			clickAccept(modal);
		},
		[&] { EXPECT_EQ(velkin->loadSnapshot(asks, LoadSource::Dialog), LoadResult::Loaded); });
	ASSERT_EQ(asked.size(), 1);
	ASSERT_TRUE(QTest::qWaitFor([this] { return probe(velkin).monitorsIdle(); }, 5000));
	EXPECT_EQ(window->width(), 700);
	EXPECT_EQ(probe(velkin).undoHistory().size(), 1) << "a second load followed the question";
	EXPECT_EQ(remembered({kLaptop, kHome}), QStringLiteral("Desk.json"));
	EXPECT_EQ(remembered({kLaptop}), QStringLiteral("Road.json"));
}

// A start on monitors other than those at the last exit or crash is a change of monitors: it brings the snapshot last
// loaded with them. Started where it was closed, or with no memory of the monitors then, the layout stands.
TEST_F(MonitorFollowerTest, AStartOnOtherMonitorsThanAtTheLastExitLoadsTheirSnapshot)
{
	snapshotOfWidth(QStringLiteral("Road"), 600);
	snapshotOfWidth(QStringLiteral("Desk"), 700);
	const MonitorSet laptop{kLaptop};
	const MonitorSet desk{kLaptop, kHome};
	const QString onScreen = moduleConfigDirectory() + QStringLiteral("/monitors-on-screen.json");
	const QString kept = moduleConfigDirectory() + QStringLiteral("/layout-on-screen.json");
	const struct {
		const char *what;
		MonitorSet before;
		bool known;
		MonitorSet after;
		int width;
	} cases[] = {
		{"closed at the desk, started away", desk, true, laptop, 600},
		{"closed away, started at the desk", laptop, true, desk, 700},
		{"started where it was closed", desk, true, desk, 650},
		{"the monitors at the last exit not known", desk, false, laptop, 650},
	};
	for (const auto &c : cases) {
		for (const QString &file : {monitorsPath(), onScreen, kept}) {
			QFile::remove(file);
		}
		start(c.before);
		ASSERT_TRUE(QTest::qWaitFor([&] { return QFileInfo::exists(onScreen); }, 5000)) << c.what;
		probe(velkin).monitorSettings().layouts = {MonitorLayout{laptop, QStringLiteral("Road.json")},
							   MonitorLayout{desk, QStringLiteral("Desk.json")}};
		// Moved by hand before the exit.
		window->resize(650, 500);
		QApplication::processEvents();
		delete velkin.data();
		QFile::remove(kept);
		if (!c.known) {
			QFile::remove(onScreen);
		}
		start(c.after);
		EXPECT_EQ(window->width(), c.width) << c.what;
		delete velkin.data();
	}
}

// When 64 sets are remembered, a new one takes the place of the set used least recently.
TEST_F(MonitorFollowerTest, AFullMemoryForgetsTheSetUsedLeastRecently)
{
	snapshotOfWidth(QStringLiteral("Any"), 600);
	start({kLeft});
	QList<MonitorLayout> &layouts = probe(velkin).monitorSettings().layouts;
	layouts.clear();
	for (int i = 0; i < kMaxMonitorLayouts; ++i) {
		layouts.append(MonitorLayout{{with(kRight, QRect(0, 0, 800 + i, 600))}, QStringLiteral("Any.json")});
		layouts.last().screens.first().name = QStringLiteral("S%1").arg(i);
	}
	layouts.first().screens = {kLeft};
	const MonitorSet second = layouts.at(1).screens;
	// The first set remembered is the one in use now.
	ASSERT_EQ(velkin->loadSnapshot(path(QStringLiteral("Any")), LoadSource::Remote), LoadResult::Loaded);
	screens = {kRight};
	ASSERT_EQ(velkin->loadSnapshot(path(QStringLiteral("Any")), LoadSource::Remote), LoadResult::Loaded);
	EXPECT_EQ(layouts.size(), kMaxMonitorLayouts);
	EXPECT_EQ(remembered({kLeft}), QStringLiteral("Any.json"));
	EXPECT_EQ(remembered({kRight}), QStringLiteral("Any.json"));
	EXPECT_TRUE(remembered(second).isEmpty());
}

// Without monitors.json, the option and the memory come from automation.json, which keeps them unchanged for an
// earlier version; from the first save on, monitors.json holds them. The context menu's option is saved there.
TEST_F(MonitorFollowerTest, AnOlderAutomationFileGivesTheOptionAndTheMemory)
{
	snapshotOfWidth(QStringLiteral("Desk"), 700);
	const QJsonObject older{
		{QStringLiteral("rules"), QJsonArray()},
		{QStringLiteral("followMonitors"), false},
		{QStringLiteral("monitorLayouts"), parsed(R"([{"screens": [{"name": "LEFT", "x": 0, "y": 0,
			"width": 1600, "height": 1000}], "snapshot": "Desk.json"}])")}};
	writeTestBytes(automationPath(), QJsonDocument(older).toJson());
	start({with(kLeft, QRect(0, 0, 1024, 768))});
	EXPECT_FALSE(probe(velkin).monitorSettings().follow);
	EXPECT_EQ(remembered(screens), QStringLiteral("Desk.json"));

	probe(velkin).automation().setRestorePreviousOnStop(true);
	velkin->showManagerDialog();
	probe(velkin).followMonitorsAction()->trigger();
	EXPECT_TRUE(readMonitorSettings(monitorsPath()).value_or(MonitorSettings{false, {}}).follow);
	const QJsonObject rewritten = QJsonDocument::fromJson(readTestBytes(automationPath())).object();
	EXPECT_EQ(rewritten.value(QStringLiteral("restorePreviousOnStop")), QJsonValue(true));
	for (const QString &key : {QStringLiteral("followMonitors"), QStringLiteral("monitorLayouts")}) {
		EXPECT_EQ(rewritten.value(key), older.value(key)) << key.toStdString();
	}
}
