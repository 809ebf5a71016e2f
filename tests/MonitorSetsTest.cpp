// Sets of monitors: which sets are the same, and their memory in automation.json.
#include "automation/AutomationFile.hpp"
#include "automation/MonitorSets.hpp"
#include "support/TestHost.hpp"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

namespace {

const MonitorScreen kLeft{QStringLiteral("LEFT"), QRect(0, 0, 1600, 1000)};
const MonitorScreen kRight{QStringLiteral("RIGHT"), QRect(1600, 0, 1280, 1024)};

QJsonArray parsed(const char *json)
{
	return QJsonDocument::fromJson(json).array();
}

} // namespace

TEST(MonitorSetsTest, ASetIsItsScreensNamesAndGeometriesInAnyOrder)
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
		{"another name", {kLeft}, {MonitorScreen{QStringLiteral("HDMI-1"), kLeft.geometry}}, false},
		{"another place", {kLeft, kRight}, {kLeft, MonitorScreen{kRight.name, QRect(0, 1000, 1280, 1024)}}, false},
		{"another size", {kLeft}, {MonitorScreen{kLeft.name, QRect(0, 0, 1920, 1080)}}, false},
		{"the same screen twice is not one screen", {kLeft, kLeft}, {kLeft}, false},
		{"no screens at all", {}, {}, true},
	};
	for (const auto &c : cases) {
		EXPECT_EQ(sameMonitors(c.a, c.b), c.same) << c.what;
		const QList<MonitorLayout> layouts{MonitorLayout{c.a, QStringLiteral("A.json")}};
		EXPECT_EQ(indexOfMonitors(layouts, c.b), c.same ? 0 : -1) << c.what;
	}
}

TEST(MonitorSetsTest, TheMemoryKeepsOnlyWhatItCanUse)
{
	const struct {
		const char *what;
		const char *json;
		QList<MonitorLayout> kept;
	} cases[] = {
		{"two sets",
		 R"([{"screens": [{"name": "LEFT", "x": 0, "y": 0, "width": 1600, "height": 1000},
		                  {"name": "RIGHT", "x": 1600, "y": 0, "width": 1280, "height": 1024}],
		      "snapshot": "Desk.json"},
		     {"screens": [{"name": "LEFT", "x": 0, "y": 0, "width": 1600, "height": 1000}], "snapshot": "Road.json"}])",
		 {MonitorLayout{{kLeft, kRight}, QStringLiteral("Desk.json")},
		  MonitorLayout{{kLeft}, QStringLiteral("Road.json")}}},
		{"a path to another folder", R"([{"screens": [{"name": "LEFT", "x": 0, "y": 0, "width": 1600, "height": 1000}],
		      "snapshot": "../Desk.json"}])",
		 {}},
		{"no screens", R"([{"screens": [], "snapshot": "Desk.json"}])", {}},
		{"a screen without a size", R"([{"screens": [{"name": "LEFT", "x": 0, "y": 0, "width": 0, "height": 1000}],
		      "snapshot": "Desk.json"}])",
		 {}},
		{"a screen without a name", R"([{"screens": [{"x": 0, "y": 0, "width": 1600, "height": 1000}],
		      "snapshot": "Desk.json"}])",
		 {}},
		{"a fractional place", R"([{"screens": [{"name": "LEFT", "x": 0.5, "y": 0, "width": 1600, "height": 1000}],
		      "snapshot": "Desk.json"}])",
		 {}},
		{"the same set twice: the first counts",
		 R"([{"screens": [{"name": "LEFT", "x": 0, "y": 0, "width": 1600, "height": 1000},
		                  {"name": "RIGHT", "x": 1600, "y": 0, "width": 1280, "height": 1024}], "snapshot": "A.json"},
		     {"screens": [{"name": "RIGHT", "x": 1600, "y": 0, "width": 1280, "height": 1024},
		                  {"name": "LEFT", "x": 0, "y": 0, "width": 1600, "height": 1000}], "snapshot": "B.json"}])",
		 {MonitorLayout{{kLeft, kRight}, QStringLiteral("A.json")}}},
		{"not a list of objects", R"([1, "x", null])", {}},
	};
	for (const auto &c : cases) {
		const QList<MonitorLayout> kept = monitorLayoutsFromJson(parsed(c.json));
		EXPECT_EQ(kept, c.kept) << c.what;
		EXPECT_EQ(monitorLayoutsFromJson(monitorLayoutsToJson(kept)), kept) << c.what << ", written and read";
	}
}

TEST(MonitorSetsTest, AutomationFileKeepsTheOptionAndTheMemoryBesideTheRules)
{
	// A file of an earlier version has neither: the option is on, the memory empty.
	SkippedRules skipped;
	const std::optional<AutomationSettings> earlier =
		parseAutomation(R"({"rules": [{"event": "obsStarted", "snapshot": "Start.json"}]})", &skipped);
	ASSERT_TRUE(earlier);
	EXPECT_TRUE(earlier->followMonitors);
	EXPECT_TRUE(earlier->monitorLayouts.isEmpty());

	AutomationSettings settings = *earlier;
	settings.followMonitors = false;
	settings.monitorLayouts = {MonitorLayout{{kRight, kLeft}, QStringLiteral("Desk.json")}};
	const QString path = testhost::scratchDirectory() + QStringLiteral("/automation.json");
	ASSERT_TRUE(writeAutomationFile(path, settings, nullptr));
	AutomationSettings read;
	ASSERT_EQ(readAutomationFile(path, read, &skipped), AutomationReadResult::Ok);
	EXPECT_EQ(read, settings);
	EXPECT_EQ(skipped.count, 0);
	// As the file promises: the option and a list of sets, each screen with its name and rectangle.
	QFile file(path);
	ASSERT_TRUE(file.open(QIODevice::ReadOnly));
	const QJsonObject object = QJsonDocument::fromJson(file.readAll()).object();
	EXPECT_EQ(object.value(QStringLiteral("followMonitors")), QJsonValue(false));
	EXPECT_EQ(QJsonDocument(object.value(QStringLiteral("monitorLayouts")).toArray()).toJson(QJsonDocument::Compact),
		  QByteArray(R"([{"screens":[{"height":1024,"name":"RIGHT","width":1280,"x":1600,"y":0},)"
			     R"({"height":1000,"name":"LEFT","width":1600,"x":0,"y":0}],"snapshot":"Desk.json"}])"));
}
