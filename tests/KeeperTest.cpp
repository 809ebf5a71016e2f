#include "support/ControllerTest.hpp"
#include "support/Documents.hpp"

#include <QAction>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QListWidget>
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
};

TEST_F(KeeperTest, AtStartTheKeptLayoutGoesBackUnlessSomethingStandsInItsWay)
{
	window->show();
	snapshotOfWidth(QStringLiteral("Start"), 580);
	const QByteArray kept = readTestBytes(snapshotOfWidth(QStringLiteral("Kept"), 700));
	const QByteArray startRule = R"({"rules": [{"event": "obsStarted", "snapshot": "Start.json"}]})";
	struct Case {
		const char *what;
		QByteArray keptBytes;
		QByteArray automation;
		bool mark;
		int width;
		bool setAside;
	};
	const QList<Case> cases{
		{"a crash or a reset", kept, {}, false, 700, false},
		{"the last start went down putting it back", kept, {}, true, 500, true},
		{"a damaged file", kept.left(kept.size() / 2), {}, false, 500, true},
		{"the start rule loads first", kept, startRule, false, 580, false},
		{"the option is off", kept, R"({"keepLayoutAcrossRestarts": false})", false, 500, false},
	};
	for (const Case &c : cases) {
		SCOPED_TRACE(c.what);
		for (const QString &file : {keptPath(), keptPath() + QStringLiteral(".set-aside"),
					    keptPath() + QStringLiteral(".putting-back"), automationPath()}) {
			QFile::remove(file);
		}
		writeTestBytes(keptPath(), c.keptBytes);
		if (!c.automation.isEmpty()) {
			writeTestBytes(automationPath(), c.automation);
		}
		if (c.mark) {
			writeTestBytes(keptPath() + QStringLiteral(".putting-back"), "1");
		}
		window->resize(500, 500);
		QApplication::processEvents();
		start();
		EXPECT_EQ(window->width(), c.width);
		EXPECT_EQ(QFileInfo::exists(keptPath() + QStringLiteral(".set-aside")), c.setAside);
		EXPECT_FALSE(QFileInfo::exists(keptPath() + QStringLiteral(".putting-back")));
		if (c.width == 700) {
			// No snapshot was loaded, and Undo Last Load brings OBS's own layout back.
			EXPECT_TRUE(probe(velkin).last().isEmpty());
			EXPECT_EQ(logged(QStringLiteral("Put back the layout on screen at the last exit or crash")), 1);
			EXPECT_EQ(probe(velkin).undo().undo(), LoadResult::Loaded);
			EXPECT_EQ(window->width(), 500);
		}
		delete velkin.data();
		testhost::clearLog();
	}
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

	// Turned off in the manager's context menu: kept in automation.json, and nothing is watched any more.
	velkin->showManagerDialog();
	QList<QAction *> actions = probe(velkin).snapshotList()->actions();
	auto keep = std::find_if(actions.begin(), actions.end(),
				 [](QAction *action) { return action->text() == localeText("KeepLayout"); });
	ASSERT_NE(keep, actions.end());
	(*keep)->trigger();
	EXPECT_FALSE((*keep)->isChecked());
	EXPECT_EQ(QJsonDocument::fromJson(readTestBytes(automationPath()))
			  .object()
			  .value(QStringLiteral("keepLayoutAcrossRestarts")),
		  QJsonValue(false));
	window->resize(700, 480);
	QApplication::processEvents();
	EXPECT_FALSE(probe(velkin).keeperStillTimer().isActive());
}

} // namespace
