#include "automation/AutomationText.hpp"
#include "module/Keys.hpp"
#include "operations/LayoutCapture.hpp"
#include "settings/SettingsFile.hpp"
#include "support/ControllerTest.hpp"
#include "support/Documents.hpp"
#include "support/DockWindow.hpp"
#include "support/Modal.hpp"

#include <QAction>
#include <QContextMenuEvent>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QListWidget>
#include <QMenu>
#include <QTest>

#include <sys/stat.h>

namespace {

class AutomationTest : public WidthSnapshotTest {
protected:
	static QString automationPath() { return moduleConfigDirectory() + QStringLiteral("/automation.json"); }

	static void writeRules(const QList<std::pair<const char *, QString>> &rules, bool restorePrevious = false)
	{
		QJsonArray list;
		for (const auto &[event, snapshot] : rules) {
			list.append(QJsonObject{{QStringLiteral("event"), QLatin1String(event)},
						{QStringLiteral("snapshot"), snapshot}});
		}
		const QJsonObject object{{QStringLiteral("rules"), list},
					 {QStringLiteral("restorePreviousOnStop"), restorePrevious}};
		writeTestBytes(automationPath(), QJsonDocument(object).toJson());
	}

	Velkin *start()
	{
		makeController();
		standin::fireEvent(OBS_FRONTEND_EVENT_FINISHED_LOADING);
		QApplication::processEvents();
		return velkin;
	}

	void fire(enum obs_frontend_event event)
	{
		standin::fireEvent(event);
		QApplication::processEvents();
	}

	int width() const { return window->width(); }
};

TEST_F(AutomationTest, EveryEventLoadsItsSnapshotWithoutAskingOrABox)
{
	const QList<std::pair<enum obs_frontend_event, const char *>> events{
		{OBS_FRONTEND_EVENT_STREAMING_STARTED, "streamingStarted"},
		{OBS_FRONTEND_EVENT_STREAMING_STOPPED, "streamingStopped"},
		{OBS_FRONTEND_EVENT_RECORDING_STARTED, "recordingStarted"},
		{OBS_FRONTEND_EVENT_RECORDING_STOPPED, "recordingStopped"},
		{OBS_FRONTEND_EVENT_STUDIO_MODE_ENABLED, "studioModeEnabled"},
		{OBS_FRONTEND_EVENT_STUDIO_MODE_DISABLED, "studioModeDisabled"},
		{OBS_FRONTEND_EVENT_SCENE_COLLECTION_CHANGED, "sceneCollectionChanged"},
		{OBS_FRONTEND_EVENT_PROFILE_CHANGED, "profileChanged"},
	};
	QList<std::pair<const char *, QString>> rules{{"obsStarted", QStringLiteral("Start.json")}};
	snapshotOfWidth(QStringLiteral("Start"), 580);
	for (int i = 0; i < events.size(); ++i) {
		// One snapshot names a dock that is not there: nobody is asked, the dock stays as it is.
		const QString name = QStringLiteral("E%1").arg(i);
		snapshotOfWidth(name, 600 + 20 * i, i == 2 ? QStringList{QStringLiteral("ghostDock")} : QStringList());
		rules.append({events[i].second, name + QStringLiteral(".json")});
	}
	writeRules(rules);

	const QList<ModalRecord> boxes = answerModals(clickOk, [&] {
		// OBS 32 reports its scene collection while it starts: that is no change to follow.
		makeController();
		standin::fireEvent(OBS_FRONTEND_EVENT_SCENE_COLLECTION_CHANGED);
		standin::fireEvent(OBS_FRONTEND_EVENT_FINISHED_LOADING);
		QApplication::processEvents();
		EXPECT_EQ(width(), 580) << "the start rule";
		for (int i = 0; i < events.size(); ++i) {
			fire(events[i].first);
			EXPECT_EQ(width(), 600 + 20 * i) << events[i].second;
			EXPECT_EQ(probe(velkin).last(), path(QStringLiteral("E%1").arg(i)));
		}
		// An event no rule follows changes nothing.
		fire(OBS_FRONTEND_EVENT_SCENE_CHANGED);
		EXPECT_EQ(width(), 600 + 20 * 7);
	});
	EXPECT_TRUE(boxes.isEmpty());
	EXPECT_EQ(testhost::countLogLines(QStringLiteral("[obs-velkin] MissingDocks: ghostDock")), 1);
}

TEST_F(AutomationTest, AStopPutsBackTheEarlierLayoutOnlyWithTheOptionAndAnUnchangedLast)
{
	snapshotOfWidth(QStringLiteral("Live"), 700);
	const QString build = snapshotOfWidth(QStringLiteral("Build"), 800);
	snapshotOfWidth(QStringLiteral("After"), 900);
	writeRules({{"recordingStarted", QStringLiteral("Live.json")}});
	start();

	struct Case {
		const char *what;
		bool option;
		bool userLoadsMeanwhile;
		bool stopHasRule;
		int expectedWidth;
	};
	const Case cases[] = {
		{"option off", false, false, false, 700},
		{"option on", true, false, false, 500},
		{"another layout chosen meanwhile", true, true, false, 800},
		{"the stop's own rule wins", true, false, true, 900},
	};
	for (const Case &c : cases) {
		window->resize(500, 500);
		probe(velkin).last().clear();
		probe(velkin).automationSettings().restorePreviousOnStop = c.option;
		probe(velkin).automationSettings().rule(AutomationEvent::RecordingStopped) =
			c.stopHasRule ? QStringLiteral("After.json") : QString();
		fire(OBS_FRONTEND_EVENT_RECORDING_STARTED);
		ASSERT_EQ(width(), 700) << c.what;
		if (c.userLoadsMeanwhile) {
			velkin->loadSnapshot(build, LoadSource::Hotkey);
		}
		fire(OBS_FRONTEND_EVENT_RECORDING_STOPPED);
		EXPECT_EQ(width(), c.expectedWidth) << c.what;
		if (c.option && !c.userLoadsMeanwhile && !c.stopHasRule) {
			EXPECT_TRUE(probe(velkin).last().isEmpty()) << "last goes back with the layout";
		}
		// A second stop has nothing left to take back.
		window->resize(640, 500);
		probe(velkin).automationSettings().rule(AutomationEvent::RecordingStopped).clear();
		fire(OBS_FRONTEND_EVENT_RECORDING_STOPPED);
		EXPECT_EQ(width(), 640) << c.what;
	}
}

// The stop comes while the prompt to rename or delete the snapshot that its start loaded is open, and waits for it.
TEST_F(AutomationTest, AStopThatWaitsForARenameOrDeleteOfTheLoadedSnapshotStillPutsTheLayoutBack)
{
	const struct {
		const char *what;
		void (Velkin::*operation)();
		ModalAnswer answer;
	} cases[] = {
		{"rename", &Velkin::renameSnapshot, typeName(QStringLiteral("Show"))},
		{"delete", &Velkin::deleteSnapshot, clickAccept},
	};
	for (const auto &c : cases) {
		const QString live = snapshotOfWidth(QStringLiteral("Live"), 700);
		writeRules({{"recordingStarted", QStringLiteral("Live.json")}}, true);
		start();
		fire(OBS_FRONTEND_EVENT_RECORDING_STARTED);
		ASSERT_EQ(width(), 700) << c.what;
		velkin->showManagerDialog();
		velkin->refreshSnapshotList(live);
		const QList<ModalRecord> records = answerModals(
			[&](QWidget *modal) {
				fire(OBS_FRONTEND_EVENT_RECORDING_STOPPED);
				EXPECT_EQ(width(), 700) << c.what << ": applied while the prompt was open";
				c.answer(modal);
			},
			[&] { (velkin->*c.operation)(); });
		ASSERT_EQ(records.size(), 1) << c.what;
		ASSERT_FALSE(QFileInfo::exists(live)) << c.what;
		QApplication::processEvents();
		EXPECT_EQ(width(), 500) << c.what;
		EXPECT_TRUE(probe(velkin).last().isEmpty()) << c.what;
		delete velkin.data();
	}
}

TEST_F(AutomationTest, EveryStartAndStopForgetsTheRecordOfAnEarlierStart)
{
	snapshotOfWidth(QStringLiteral("Live"), 700);
	writeRules({{"recordingStarted", QStringLiteral("Live.json")}});
	start();
	const struct {
		const char *what;
		// Between the first recording's start, which loads Live, and a later stop with the option on.
		std::function<void()> meanwhile;
	} cases[] = {
		{"a stop with the option off, then a start without a rule",
		 [&] {
			 fire(OBS_FRONTEND_EVENT_RECORDING_STOPPED);
			 probe(velkin).automationSettings().restorePreviousOnStop = true;
			 probe(velkin).automationSettings().rule(AutomationEvent::RecordingStarted).clear();
			 fire(OBS_FRONTEND_EVENT_RECORDING_STARTED);
		 }},
		{"a start whose load fails",
		 [&] {
			 probe(velkin).automationSettings().restorePreviousOnStop = true;
			 probe(velkin).automationSettings().rule(AutomationEvent::RecordingStarted) =
				 QStringLiteral("Gone.json");
			 fire(OBS_FRONTEND_EVENT_RECORDING_STARTED);
		 }},
	};
	for (const auto &c : cases) {
		window->resize(500, 500);
		probe(velkin).automationSettings().restorePreviousOnStop = false;
		probe(velkin).automationSettings().rule(AutomationEvent::RecordingStarted) =
			QStringLiteral("Live.json");
		fire(OBS_FRONTEND_EVENT_RECORDING_STARTED);
		ASSERT_EQ(width(), 700) << c.what;
		c.meanwhile();
		fire(OBS_FRONTEND_EVENT_RECORDING_STOPPED);
		EXPECT_EQ(width(), 700) << c.what << ": an old record brought back an old layout";
	}
}

TEST_F(AutomationTest, TheStartRuleNeverReplacesALoadMadeBeforeTheFirstShow)
{
	snapshotOfWidth(QStringLiteral("Start"), 700);
	const QString stream = snapshotOfWidth(QStringLiteral("Stream"), 800);
	writeRules({{"obsStarted", QStringLiteral("Start.json")}});
	window->hide();
	start();
	// OBS is in the tray; streaming starts from a Stream Deck, and its rule loads a layout.
	ASSERT_EQ(velkin->loadSnapshot(stream, LoadSource::Remote), LoadResult::Loaded);
	window->show();
	QApplication::processEvents();
	EXPECT_EQ(width(), 800);
	EXPECT_EQ(probe(velkin).last(), stream);
}

TEST_F(AutomationTest, AnEventDuringAnOperationWaitsAndTheNewestWins)
{
	snapshotOfWidth(QStringLiteral("Rec"), 700);
	snapshotOfWidth(QStringLiteral("Stream"), 800);
	writeRules({{"recordingStarted", QStringLiteral("Rec.json")},
		    {"streamingStarted", QStringLiteral("Stream.json")}});
	start();

	answerModals(
		[&](QWidget *prompt) {
			fire(OBS_FRONTEND_EVENT_RECORDING_STARTED);
			fire(OBS_FRONTEND_EVENT_STREAMING_STARTED);
			// No rule: it neither waits nor pushes the waiting event aside.
			fire(OBS_FRONTEND_EVENT_PROFILE_CHANGED);
			EXPECT_EQ(width(), 500) << "applied while the prompt was open";
			clickReject(prompt);
		},
		[&] { velkin->saveNewSnapshot(); });
	QApplication::processEvents();
	EXPECT_EQ(width(), 800);
	EXPECT_EQ(probe(velkin).last(), path(QStringLiteral("Stream")));
	EXPECT_EQ(testhost::countLogLines(QStringLiteral("[obs-velkin] Automation: \"streamingStarted\" replaces "
							 "\"recordingStarted\", which waited for a running operation")),
		  1);

	// Shutdown while one waits: nothing is applied, then or after.
	window->resize(500, 500);
	answerModals(
		[&](QWidget *prompt) {
			fire(OBS_FRONTEND_EVENT_RECORDING_STARTED);
			velkin->shutdown();
			clickReject(prompt);
		},
		[&] { velkin->saveNewSnapshot(); });
	QApplication::processEvents();
	fire(OBS_FRONTEND_EVENT_STREAMING_STARTED);
	EXPECT_EQ(width(), 500);
}

TEST_F(AutomationTest, RulesFollowTheirSnapshotAndAreSavedAtOnce)
{
	const QString live = snapshotOfWidth(QStringLiteral("Live"), 700);
	const QString other = snapshotOfWidth(QStringLiteral("Other"), 800);
	writeRules({{"recordingStarted", QStringLiteral("Live.json")},
		    {"profileChanged", QStringLiteral("Live.json")},
		    {"streamingStarted", QStringLiteral("Other.json")}});
	start();
	const auto saved = [] {
		AutomationSettings settings;
		EXPECT_EQ(readAutomationFile(automationPath(), settings, nullptr), AutomationReadResult::Ok);
		return settings;
	};

	SnapshotData data;
	ASSERT_EQ(readSnapshotFile(live, data), SnapshotIoResult::Ok);
	data.name = QStringLiteral("Show");
	ASSERT_FALSE(probe(velkin).storeSnapshot(data, live).isEmpty());
	EXPECT_EQ(probe(velkin).automation().rulesOf(QStringLiteral("Show.json")),
		  (QList<AutomationEvent>{AutomationEvent::RecordingStarted, AutomationEvent::ProfileChanged}));
	EXPECT_EQ(saved(), probe(velkin).automationSettings());
	EXPECT_EQ(saved().rule(AutomationEvent::ProfileChanged), QStringLiteral("Show.json"));

	probe(velkin).forgetSnapshotReferences(path(QStringLiteral("Show")));
	EXPECT_TRUE(probe(velkin).automation().rulesOf(QStringLiteral("Show.json")).isEmpty());
	EXPECT_TRUE(saved().rule(AutomationEvent::RecordingStarted).isEmpty());
	EXPECT_EQ(saved().rule(AutomationEvent::StreamingStarted), QStringLiteral("Other.json"));

	// Gone behind the plug-in's back: the next refresh drops the rule.
	ASSERT_TRUE(QFile::remove(other));
	velkin->refreshSnapshotList(QString());
	EXPECT_TRUE(saved().rule(AutomationEvent::StreamingStarted).isEmpty());
}

TEST_F(AutomationTest, AnUnusableFileGivesNoRulesOneLineAndIsNotReplacedAtShutdown)
{
	snapshotOfWidth(QStringLiteral("Live"), 700);
	const QByteArray valid = R"({"rules": [{"event": "recordingStarted", "snapshot": "Live.json"}]})";
	struct Case {
		const char *what;
		std::function<void()> make;
		QString line;
	};
	const QList<Case> cases{
		{"missing", [] {}, QStringLiteral("No automation rules: automation.json was not found")},
		{"broken", [] { writeTestBytes(automationPath(), "{\"rules\": ["); },
		 QStringLiteral("No automation rules: automation.json is not a JSON object")},
		{"FIFO", [] { ASSERT_EQ(mkfifo(automationPath().toUtf8().constData(), 0600), 0); },
		 QStringLiteral("No automation rules: automation.json is not a regular file")},
		{"too large", [&] { writeTestBytes(automationPath(), valid + QByteArray(4194304, ' ')); },
		 QStringLiteral("No automation rules: automation.json is larger than 4 MiB")},
	};
	for (const Case &c : cases) {
		QFile::remove(automationPath());
		c.make();
		// Never opened here when it is a FIFO: that would block.
		const bool regular = QFileInfo(automationPath()).isFile();
		const QByteArray before = regular ? readTestBytes(automationPath()) : QByteArray();
		testhost::clearLog();
		start();
		EXPECT_EQ(testhost::pluginLogLines().size(), QByteArray(c.what) == "missing" ? 0 : 1) << c.what;
		EXPECT_EQ(testhost::countLogLines(QStringLiteral("[obs-velkin] ") + c.line), 1) << c.what;
		fire(OBS_FRONTEND_EVENT_RECORDING_STARTED);
		EXPECT_EQ(width(), 500) << c.what;
		delete velkin.data();
		if (QByteArray(c.what) != "missing") {
			EXPECT_EQ(QFileInfo(automationPath()).isFile(), regular) << c.what;
			if (regular) {
				EXPECT_EQ(readTestBytes(automationPath()), before)
					<< c.what << ": the file was replaced";
			}
		}
	}

	// Rules that cannot be kept are skipped one by one; the rest of the file stands.
	const QByteArray skipping = R"({"rules": [{"event": "whenever", "snapshot": "Live.json"},
		{"event": "recordingStarted", "snapshot": "../settings.json"},
		{"event": "recordingStarted", "snapshot": "Live.json"},
		{"event": "recordingStarted", "snapshot": "Other.json"}]})";
	writeTestBytes(automationPath(), skipping);
	testhost::clearLog();
	start();
	EXPECT_EQ(testhost::pluginLogLines().filter(QStringLiteral("Skipped automation rule: ")).size(), 3);
	fire(OBS_FRONTEND_EVENT_RECORDING_STARTED);
	EXPECT_EQ(width(), 700);
	// The file keeps the rules that were skipped until a rule changes here.
	delete velkin.data();
	EXPECT_EQ(readTestBytes(automationPath()), skipping);

	// A file of a hundred thousand empty rules names the first few in the log and counts the rest.
	QByteArray flood = R"({"rules": [{})";
	for (int i = 1; i < 100000; ++i) {
		flood += ",{}";
	}
	flood += "]}";
	writeTestBytes(automationPath(), flood);
	testhost::clearLog();
	start();
	EXPECT_EQ(testhost::pluginLogLines().filter(QStringLiteral("Skipped automation rule: ")).size(), 5);
	EXPECT_EQ(testhost::countLogLines(QStringLiteral("[obs-velkin] Skipped 99995 more automation rules")), 1);
	delete velkin.data();
	EXPECT_EQ(readTestBytes(automationPath()), flood);
	start();
	probe(velkin).automation().setRestorePreviousOnStop(true);
	EXPECT_NE(readTestBytes(automationPath()), flood) << "the option's change rewrites it";
}

TEST_F(AutomationTest, UndoWalksBackTheLastTenLoads)
{
	start();
	QList<QString> paths;
	for (int i = 0; i < 12; ++i) {
		paths.append(snapshotOfWidth(QStringLiteral("S%1").arg(i), 600 + 10 * i));
	}
	velkin->refreshSnapshotList(QString());

	// Nothing to undo: nothing happens and nothing is written.
	probe(velkin).undo().undo();
	EXPECT_EQ(width(), 500);
	EXPECT_FALSE(probe(velkin).settingsSaveTimer().isActive());

	for (const QString &path : paths) {
		ASSERT_EQ(velkin->loadSnapshot(path, LoadSource::Hotkey), LoadResult::Loaded);
	}
	for (int i = 10; i >= 1; --i) {
		probe(velkin).undo().undo();
		EXPECT_EQ(width(), 600 + 10 * i);
		EXPECT_EQ(probe(velkin).last(), paths[i]);
	}
	// The two oldest loads fell out of the history.
	probe(velkin).undo().undo();
	EXPECT_EQ(width(), 610);

	// The undo hotkey's bindings live in automation.json and come back with it.
	const QJsonArray f9{QJsonObject{{QStringLiteral("key"), QStringLiteral("OBS_KEY_F9")}}};
	hotkeyBindingsFromJson(probe(velkin).undoHotkeyId(), f9);
	delete velkin.data();
	const QJsonObject saved = QJsonDocument::fromJson(readTestBytes(automationPath())).object();
	EXPECT_EQ(saved.value(QStringLiteral("undoHotkey")).toArray(), f9);
	start();
	EXPECT_EQ(hotkeyBindingsToJson(probe(velkin).undoHotkeyId()), f9);
}

TEST_F(AutomationTest, TheStartRuleWaitsUntilAHiddenWindowIsFirstShown)
{
	snapshotOfWidth(QStringLiteral("Start"), 700);
	writeRules({{"obsStarted", QStringLiteral("Start.json")}});
	window->hide();
	start();
	EXPECT_TRUE(probe(velkin).last().isEmpty());
	window->show();
	QApplication::processEvents();
	EXPECT_EQ(width(), 700);
	EXPECT_EQ(probe(velkin).last(), path(QStringLiteral("Start")));

	// Once a run: out of the tray and back again changes nothing.
	window->resize(500, 500);
	window->hide();
	window->show();
	QApplication::processEvents();
	EXPECT_EQ(width(), 500);
}

TEST_F(AutomationTest, TheContextMenuSetsMovesAndShowsRules)
{
	snapshotOfWidth(QStringLiteral("Live"), 700);
	snapshotOfWidth(QStringLiteral("Build"), 800);
	start();
	velkin->showManagerDialog();
	QListWidget *list = probe(velkin).snapshotList();
	ASSERT_EQ(list->count(), 2);
	const auto triggerEvent = [&](int row, AutomationEvent event) {
		list->setCurrentRow(row);
		QContextMenuEvent opened(QContextMenuEvent::Keyboard, QPoint(5, 5), QPoint(5, 5));
		velkin->eventFilter(list, &opened);
		probe(velkin).automationMenu()->aboutToShow();
		probe(velkin).automationMenu()->actions().at(int(event))->trigger();
	};

	triggerEvent(0, AutomationEvent::RecordingStarted);
	triggerEvent(0, AutomationEvent::ObsStarted);
	EXPECT_EQ(list->item(0)->data(kRulesRole).toString(), QStringLiteral("Rec start, OBS start"));
	triggerEvent(1, AutomationEvent::RecordingStarted);
	EXPECT_EQ(list->item(0)->data(kRulesRole).toString(), QStringLiteral("OBS start")) << "the rule moved";
	EXPECT_EQ(list->item(1)->data(kRulesRole).toString(), QStringLiteral("Rec start"));
	EXPECT_TRUE(list->item(1)->toolTip().endsWith(
		localeText("AutoLoadTip").arg(automationEventText(AutomationEvent::RecordingStarted, false))));
	triggerEvent(1, AutomationEvent::RecordingStarted);
	EXPECT_FALSE(list->item(1)->data(kRulesRole).isValid()) << "unchecked";

	// A load while the menu is open moves the selection; the submenu still edits the row it was opened on.
	list->setCurrentRow(1);
	QContextMenuEvent opened(QContextMenuEvent::Mouse, QPoint(5, 5), QPoint(5, 5));
	velkin->eventFilter(list->viewport(), &opened);
	list->setCurrentRow(0);
	probe(velkin).automationMenu()->aboutToShow();
	probe(velkin).automationMenu()->actions().at(int(AutomationEvent::StreamingStarted))->trigger();
	EXPECT_EQ(list->item(1)->data(kRulesRole).toString(),
		  automationEventText(AutomationEvent::StreamingStarted, true));
	EXPECT_EQ(list->item(0)->data(kRulesRole).toString(), QStringLiteral("OBS start"));

	probe(velkin).restorePreviousAction()->trigger();
	EXPECT_TRUE(probe(velkin).automationSettings().restorePreviousOnStop);
	AutomationSettings saved;
	ASSERT_EQ(readAutomationFile(automationPath(), saved, nullptr), AutomationReadResult::Ok);
	EXPECT_EQ(saved, probe(velkin).automationSettings());

	EXPECT_FALSE(probe(velkin).undoAction()->isEnabled());
	probe(velkin).loadSelectedSnapshot();
	EXPECT_TRUE(probe(velkin).undoAction()->isEnabled());
	probe(velkin).undoAction()->trigger();
	EXPECT_EQ(width(), 500);
}

} // namespace
