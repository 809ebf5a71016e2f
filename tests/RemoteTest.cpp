#include "support/ControllerTest.hpp"
#include "support/Documents.hpp"
#include "support/DockWindow.hpp"
#include "support/Facility.hpp"
#include "support/Modal.hpp"

#include <QDockWidget>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QListWidget>
#include <QProcess>
#include <QTest>

#include <obs.hpp>

#include <functional>

namespace {

// The requests go in and come out as host data, as obs-websocket hands them over.
class RemoteTest : public ControllerTest {
protected:
	void SetUp() override
	{
		ControllerTest::SetUp();
		addTestDocks(window, false);
		QDir().mkpath(snapshotDirectory());
	}

	void start()
	{
		makeController();
		probe(velkin).remote().setEventListener([this](const char *type, const QJsonObject &data) {
			events.append({QString::fromLatin1(type), data});
		});
		standin::fireEvent(OBS_FRONTEND_EVENT_FINISHED_LOADING);
		QApplication::processEvents();
	}

	QJsonObject call(const char *type, const QJsonObject &request = QJsonObject())
	{
		const OBSDataAutoRelease in = obs_data_create_from_json(QJsonDocument(request).toJson().constData());
		const OBSDataAutoRelease out = obs_data_create();
		probe(velkin).remote().answer(type, in, out);
		return QJsonDocument::fromJson(QByteArray(obs_data_get_json(out))).object();
	}

	static QString code(const QJsonObject &answer) { return answer.value(QStringLiteral("error")).toString(); }

	// A plug-in's dock "holderDock" on the right that holds a main window of its own, with the dock "innerDock"
	// docked in it; returns that one.
	QDockWidget *addDockWithMainWindow()
	{
		auto *holder = new QDockWidget(QStringLiteral("Holder"), window);
		holder->setObjectName(QStringLiteral("holderDock"));
		auto *inner = new QMainWindow;
		inner->setCentralWidget(new QLabel(QStringLiteral("Inside")));
		auto *innerDock = new QDockWidget(QStringLiteral("Inner"), inner);
		innerDock->setObjectName(QStringLiteral("innerDock"));
		innerDock->setWidget(new QLabel(QStringLiteral("Inner")));
		inner->addDockWidget(Qt::LeftDockWidgetArea, innerDock);
		holder->setWidget(inner);
		window->addDockWidget(Qt::RightDockWidgetArea, holder);
		return innerDock;
	}

	QList<std::pair<QString, QJsonObject>> events;
};

TEST_F(RemoteTest, EveryRequestAnswersWithTheControllersState)
{
	addLayoutSnapshots({QStringLiteral("Alpha"), QStringLiteral("Beta")});
	start();

	QJsonObject list = call("GetSnapshotList");
	const QJsonArray snapshots = list.value(QStringLiteral("snapshots")).toArray();
	ASSERT_EQ(snapshots.size(), 2);
	EXPECT_EQ(snapshots[1].toObject().value(QStringLiteral("fileName")), QJsonValue(QStringLiteral("Beta.json")));
	EXPECT_EQ(snapshots[1].toObject().value(QStringLiteral("position")).toInt(), 2);
	EXPECT_FALSE(snapshots[0].toObject().value(QStringLiteral("hasHotkey")).toBool());
	EXPECT_FALSE(list.contains(QStringLiteral("last")));

	// A name is matched as the dialog matches names; a loaded snapshot becomes last.
	QJsonObject answer = call("LoadSnapshot", {{QStringLiteral("name"), QStringLiteral("  bETA ")}});
	EXPECT_TRUE(answer.value(QStringLiteral("loaded")).toBool()) << QJsonDocument(answer).toJson().constData();
	EXPECT_EQ(probe(velkin).last(), path(QStringLiteral("Beta")));
	EXPECT_EQ(call("GetSnapshotList").value(QStringLiteral("last")), QJsonValue(QStringLiteral("Beta.json")));
	EXPECT_EQ(events.last().first, QStringLiteral("SnapshotLoaded"));
	EXPECT_EQ(events.last().second.value(QStringLiteral("source")), QJsonValue(QStringLiteral("remote")));

	EXPECT_EQ(call("LoadNextSnapshot").value(QStringLiteral("fileName")), QJsonValue(QStringLiteral("Alpha.json")));
	EXPECT_EQ(call("LoadPreviousSnapshot").value(QStringLiteral("fileName")),
		  QJsonValue(QStringLiteral("Beta.json")));
	EXPECT_TRUE(call("UndoLoad").value(QStringLiteral("loaded")).toBool());
	EXPECT_EQ(probe(velkin).last(), path(QStringLiteral("Alpha")));
	EXPECT_EQ(events.last().second.value(QStringLiteral("source")), QJsonValue(QStringLiteral("undo")));

	// Names with odd letters: full-width, a combining accent and an emoji; found again in another spelling.
	const QString odd = QStringLiteral("\uff2c\uff49\uff56\uff45 e\u0301 \u2728");
	events.clear();
	EXPECT_EQ(call("SaveSnapshot", {{QStringLiteral("name"), odd}}).value(QStringLiteral("fileName")),
		  QJsonValue(odd.normalized(QString::NormalizationForm_C) + QStringLiteral(".json")));
	EXPECT_EQ(events.first().first, QStringLiteral("SnapshotListChanged"));
	answer = call("LoadSnapshot",
		      {{QStringLiteral("name"), QStringLiteral("\uff4c\uff49\uff56\uff45 \u00e9 \u2728")}});
	EXPECT_TRUE(answer.value(QStringLiteral("loaded")).toBool());

	// Overwrite in place keeps the stored name.
	answer = call("SaveSnapshot",
		      {{QStringLiteral("name"), QStringLiteral("alpha")}, {QStringLiteral("overwrite"), true}});
	EXPECT_EQ(answer.value(QStringLiteral("fileName")), QJsonValue(QStringLiteral("Alpha.json")));
	SnapshotData stored;
	ASSERT_EQ(readSnapshotFile(path(QStringLiteral("Alpha")), stored), SnapshotIoResult::Ok);
	EXPECT_EQ(stored.name, QStringLiteral("Alpha"));
}

TEST_F(RemoteTest, EveryErrorHasItsCodeAndNoRequestOpensAWindow)
{
	addLayoutSnapshots({QStringLiteral("Alpha")});
	SnapshotData refused;
	ASSERT_EQ(readSnapshotFile(path(QStringLiteral("Alpha")), refused), SnapshotIoResult::Ok);
	refused.name = QStringLiteral("Refused");
	refused.geometry = QByteArray(66, '\x07');
	ASSERT_EQ(writeSnapshotFile(path(QStringLiteral("Refused")), refused), SnapshotIoResult::Ok);
	writeTestBytes(path(QStringLiteral("Broken")), "{ not a snapshot");
	addDockWithMainWindow();
	makeController();
	EXPECT_EQ(code(call("GetSnapshotList")), QStringLiteral("Busy")) << "before activation";
	delete velkin.data();
	start();

	const struct {
		const char *type;
		QJsonObject request;
		const char *code;
	} cases[] = {
		{"LoadSnapshot", {{QStringLiteral("fileName"), QStringLiteral("../settings.json")}}, "NotFound"},
		{"LoadSnapshot", {{QStringLiteral("fileName"), QStringLiteral("alpha.json")}}, "NotFound"},
		{"LoadSnapshot", {{QStringLiteral("name"), QStringLiteral("Gamma")}}, "NotFound"},
		{"LoadSnapshot", {}, "BadRequest"},
		{"LoadSnapshot", {{QStringLiteral("fileName"), QStringLiteral("Refused.json")}}, "RestoreFailed"},
		{"UndoLoad", {}, "NotFound"},
		{"SaveSnapshot", {{QStringLiteral("name"), QStringLiteral("a/b")}}, "InvalidName"},
		{"SaveSnapshot", {{QStringLiteral("name"), QStringLiteral("ALPHA")}}, "DuplicateName"},
		{"SaveSnapshot",
		 {{QStringLiteral("name"), QStringLiteral("Alpha")}, {QStringLiteral("overwrite"), 1}},
		 "BadRequest"},
		{"SaveSnapshot",
		 {{QStringLiteral("name"), QStringLiteral("Broken")}, {QStringLiteral("overwrite"), true}},
		 "ReadFailed"},
		{"Shutdown", {}, "BadRequest"},
		{"SetDockShown",
		 {{QStringLiteral("name"), QStringLiteral("chatDock")}, {QStringLiteral("shown"), true}},
		 "NotFound"},
		{"SetDockShown", {{QStringLiteral("name"), QStringLiteral("mixerDock")}}, "BadRequest"},
		{"SetDockFloating",
		 {{QStringLiteral("name"), QStringLiteral("mixerDock")},
		  {QStringLiteral("floating"), true},
		  {QStringLiteral("rect"), QJsonObject{{QStringLiteral("x"), 0}}}},
		 "BadRequest"},
		{"SetDockFloating",
		 {{QStringLiteral("name"), QStringLiteral("mixerDock")},
		  {QStringLiteral("floating"), true},
		  {QStringLiteral("rect"), QJsonObject{{QStringLiteral("x"), -2147483648.0},
						       {QStringLiteral("y"), 0},
						       {QStringLiteral("width"), 300},
						       {QStringLiteral("height"), 200}}}},
		 "BadRequest"},
		// A dock of a main window within a dock is that window's, not one of OBS's.
		{"SetDockFloating",
		 {{QStringLiteral("name"), QStringLiteral("innerDock")}, {QStringLiteral("floating"), false}},
		 "NotFound"},
		{"RaiseDock", {{QStringLiteral("name"), QStringLiteral("innerDock")}}, "NotFound"},
		{"RaiseDock", {{QStringLiteral("name"), 3}}, "BadRequest"},
	};
	const QList<ModalRecord> windows = answerModals(clickOk, [&] {
		for (const auto &c : cases) {
			EXPECT_EQ(code(call(c.type, c.request)), QLatin1String(c.code)) << c.type;
		}
	});
	EXPECT_TRUE(windows.isEmpty());

	// A request while a question is open is turned away.
	velkin->showManagerDialog();
	const QList<ModalRecord> questions = answerModals(
		[&](QWidget *box) {
			EXPECT_EQ(code(call("GetSnapshotList")), QStringLiteral("Busy"));
			clickReject(box);
		},
		[&] { velkin->deleteSnapshot(); });
	EXPECT_EQ(questions.size(), 1);

	// The folder cannot take a new file.
	VELKIN_REQUIRE_FACILITY(
		QProcess::execute(QStringLiteral("chattr"), {QStringLiteral("+i"), snapshotDirectory()}) == 0,
		"chattr");
	const QString failed = code(call("SaveSnapshot", {{QStringLiteral("name"), QStringLiteral("New")}}));
	QProcess::execute(QStringLiteral("chattr"), {QStringLiteral("-i"), snapshotDirectory()});
	EXPECT_EQ(failed, QStringLiteral("WriteFailed"));

	// A full catalogue.
	for (int i = 0; i < 1000; ++i) {
		writeTestDocument(snapshotDirectory(), QStringLiteral("Filler %1.json").arg(i),
				  QStringLiteral("Filler %1").arg(i));
	}
	EXPECT_EQ(code(call("SaveSnapshot", {{QStringLiteral("name"), QStringLiteral("New")}})),
		  QStringLiteral("LimitReached"));

	velkin->shutdown();
	EXPECT_EQ(code(call("GetSnapshotList")), QStringLiteral("Busy")) << "after shutdown";
}

TEST_F(RemoteTest, APendingHotkeyLoadAppliedForARequestAsksNothingAndShowsNothing)
{
	addLayoutSnapshots({QStringLiteral("Alpha"), QStringLiteral("Beta")});
	const struct {
		const char *what;
		std::function<void(const QString &beta)> spoil;
		const char *logged;
	} cases[] = {
		{"a dock that is missing",
		 [](const QString &beta) {
			 SnapshotData data;
			 ASSERT_EQ(readSnapshotFile(beta, data), SnapshotIoResult::Ok);
			 data.docks.append(QStringLiteral("goneDock"));
			 ASSERT_EQ(writeSnapshotFile(beta, data), SnapshotIoResult::Ok);
		 },
		 "[obs-velkin] MissingDocks: goneDock"},
		{"a file that cannot be read", [](const QString &beta) { writeTestBytes(beta, "{ not a snapshot"); },
		 "[obs-velkin] ReadFailed: "},
	};
	start();
	for (const auto &c : cases) {
		c.spoil(path(QStringLiteral("Beta")));
		events.clear();
		testhost::clearLog();
		probe(velkin).pressLoad(path(QStringLiteral("Beta")));
		QJsonObject answer;
		const auto records = answerModals(clickAccept, [&] {
			answer = call("LoadSnapshot", {{QStringLiteral("name"), QStringLiteral("Alpha")}});
		});
		EXPECT_TRUE(records.isEmpty()) << c.what << ": a window opened";
		EXPECT_TRUE(answer.value(QStringLiteral("loaded")).toBool()) << c.what;
		EXPECT_EQ(testhost::pluginLogLines().filter(QLatin1String(c.logged)).size(), 1)
			<< c.what << ": " << testhost::pluginLogLines().join(QLatin1Char('\n')).toStdString();
		EXPECT_EQ(events.last().second.value(QStringLiteral("source")), QJsonValue(QStringLiteral("remote")));
	}
	// The pending load of the first case went ahead unattended and kept its source.
	addLayoutSnapshots({QStringLiteral("Beta")});
	events.clear();
	probe(velkin).pressLoad(path(QStringLiteral("Beta")));
	call("LoadSnapshot", {{QStringLiteral("name"), QStringLiteral("Alpha")}});
	ASSERT_EQ(events.size(), 2);
	EXPECT_EQ(events[0].second.value(QStringLiteral("source")), QJsonValue(QStringLiteral("hotkey")));
}

TEST_F(RemoteTest, UndoNamesNoSnapshotThatIsGone)
{
	addLayoutSnapshots({QStringLiteral("Alpha"), QStringLiteral("Gone"), QStringLiteral("Beta")});
	start();
	velkin->showManagerDialog();
	for (const char *name : {"Alpha", "Gone", "Beta"}) {
		call("LoadSnapshot", {{QStringLiteral("name"), QLatin1String(name)}});
	}
	// Gone is deleted from the manager: undo puts its layout back, but it is no longer a snapshot.
	probe(velkin).selectSnapshotRow(path(QStringLiteral("Gone")));
	answerModals(clickAccept, [&] { velkin->deleteSnapshot(); });
	ASSERT_FALSE(QFileInfo::exists(path(QStringLiteral("Gone"))));
	events.clear();
	QJsonObject answer = call("UndoLoad");
	EXPECT_TRUE(answer.value(QStringLiteral("loaded")).toBool());
	EXPECT_FALSE(answer.contains(QStringLiteral("fileName"))) << QJsonDocument(answer).toJson().constData();
	EXPECT_TRUE(probe(velkin).last().isEmpty());
	EXPECT_FALSE(call("GetSnapshotList").contains(QStringLiteral("last")));
	ASSERT_EQ(events.size(), 1);
	EXPECT_FALSE(events[0].second.contains(QStringLiteral("fileName")));
	EXPECT_FALSE(events[0].second.contains(QStringLiteral("name")));

	// Back to before Alpha, before any load: no snapshot either.
	EXPECT_EQ(call("UndoLoad").value(QStringLiteral("fileName")), QJsonValue(QStringLiteral("Alpha.json")));
	answer = call("UndoLoad");
	EXPECT_TRUE(answer.value(QStringLiteral("loaded")).toBool());
	EXPECT_FALSE(answer.contains(QStringLiteral("fileName")));

	// An undo that the window refuses keeps its layout in the history.
	probe(velkin).undoHistory().append(LayoutMemento{QByteArray(66, '\x07'), window->saveState(0), QString()});
	EXPECT_EQ(code(call("UndoLoad")), QStringLiteral("RestoreFailed"));
	EXPECT_EQ(probe(velkin).undoHistory().size(), 1);
}

TEST_F(RemoteTest, TheListChangesAreAnnouncedOnce)
{
	addLayoutSnapshots({QStringLiteral("Alpha"), QStringLiteral("Beta")});
	start();
	const auto changes = [this] {
		return std::count_if(events.cbegin(), events.cend(), [](const auto &event) {
			return event.first == QStringLiteral("SnapshotListChanged");
		});
	};
	velkin->refreshSnapshotList(QString());
	EXPECT_EQ(changes(), 0) << "a refresh that found nothing new";
	writeTestDocument(snapshotDirectory(), QStringLiteral("Gamma.json"), QStringLiteral("Gamma"));
	velkin->refreshSnapshotList(QString());
	EXPECT_EQ(changes(), 1) << "a refresh that found a file";
	probe(velkin).forgetSnapshotReferences(path(QStringLiteral("Gamma")));
	ASSERT_TRUE(QFile::remove(path(QStringLiteral("Gamma"))));
	velkin->refreshSnapshotList(QString());
	EXPECT_EQ(changes(), 2) << "a delete";

	// A new order is announced where it is made, and the next refresh finds nothing new.
	velkin->showManagerDialog();
	ASSERT_TRUE(probe(velkin).snapshotList()->model()->moveRows(QModelIndex(), 1, 1, QModelIndex(), 0));
	EXPECT_EQ(changes(), 3) << "a new order";
	velkin->refreshSnapshotList(QString());
	EXPECT_EQ(changes(), 3);
}

} // namespace

// The docks one by one, as the Docks menu and a mouse change them: each request changes its dock alone, is
// announced once, after a load's SnapshotLoaded too, and is one step that UndoLoad takes back.
TEST_F(RemoteTest, EachDockRequestChangesItsDockAloneAndUndoTakesItBack)
{
	addLayoutSnapshots({QStringLiteral("Alpha")});
	start();
	// Native, as OBS's preview makes the docks.
	window->centralWidget()->winId();
	window->show();
	ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
	const auto listed = [&] {
		QMap<QString, QJsonObject> docks;
		for (const QJsonValue &entry : call("GetDockList").value(QStringLiteral("docks")).toArray()) {
			docks.insert(entry[QStringLiteral("name")].toString(), entry.toObject());
		}
		return docks;
	};
	const auto dock = [&](const char *name) { return window->findChild<QDockWidget *>(QLatin1String(name)); };
	// The list against the docks as Qt has them.
	const QMap<QString, QJsonObject> first = listed();
	ASSERT_EQ(first.size(), window->findChildren<QDockWidget *>().size());
	for (QDockWidget *each : window->findChildren<QDockWidget *>()) {
		const QJsonObject entry = first.value(each->objectName());
		EXPECT_EQ(entry[QStringLiteral("shown")].toBool(), !each->isHidden())
			<< each->objectName().toStdString();
		// A tab behind another has the place of the one on top.
		if (!each->isFloating() && each->visibleRegion().isEmpty()) {
			continue;
		}
		const QRect rect =
			each->isFloating() ? each->geometry() : QRect(each->mapTo(window, QPoint(0, 0)), each->size());
		EXPECT_EQ(
			entry[QStringLiteral("rect")].toObject(),
			(QJsonObject{
				{"x", rect.x()}, {"y", rect.y()}, {"width", rect.width()}, {"height", rect.height()}}))
			<< each->objectName().toStdString() << " "
			<< QJsonDocument(entry).toJson(QJsonDocument::Compact).constData();
	}
	EXPECT_EQ(first[QStringLiteral("scenesDock")][QStringLiteral("tabbedWith")].toArray(),
		  QJsonArray({QJsonObject{{"name", "sourcesDock"}}}));
	EXPECT_EQ(first[QStringLiteral("statsDock")][QStringLiteral("area")], QJsonValue());

	const QRect floatAt(200, 150, 320, 240);
	const struct {
		const char *type;
		QJsonObject request;
		std::function<bool()> done;
	} rows[] = {
		{"SetDockShown",
		 {{"name", "mixerDock"}, {"shown", false}},
		 [&] { return dock("mixerDock")->isHidden(); }},
		{"SetDockFloating",
		 {{"name", "controlsDock"},
		  {"floating", true},
		  {"rect", QJsonObject{{"x", 200}, {"y", 150}, {"width", 320}, {"height", 240}}}},
		 [&] { return dock("controlsDock")->isFloating() && dock("controlsDock")->geometry() == floatAt; }},
		{"SetDockFloating",
		 {{"name", "statsDock"}, {"floating", false}},
		 [&] { return window->dockWidgetArea(dock("statsDock")) != Qt::NoDockWidgetArea; }},
		{"RaiseDock", {{"name", "scenesDock"}}, [&] { return !dock("scenesDock")->visibleRegion().isEmpty(); }},
	};
	for (const auto &row : rows) {
		const QMap<QString, QJsonObject> before = listed();
		events.clear();
		const QJsonObject answer = call(row.type, row.request);
		EXPECT_FALSE(answer.contains(QStringLiteral("error")))
			<< row.type << QJsonDocument(answer).toJson().constData();
		EXPECT_TRUE(QTest::qWaitFor(row.done, 2000)) << row.type;
		QApplication::processEvents();
		const bool changes = QLatin1String(row.type) != QLatin1String("RaiseDock");
		ASSERT_EQ(events.size(), changes ? 1 : 0) << row.type;
		if (changes) {
			EXPECT_EQ(events[0].second[QStringLiteral("name")], row.request[QStringLiteral("name")])
				<< row.type;
		}
		EXPECT_TRUE(call("UndoLoad").value(QStringLiteral("loaded")).toBool()) << row.type;
		// A dock docked again takes its place in the window on a later turn.
		(void)QTest::qWaitFor([&] { return listed() == before; }, 2000);
		const QMap<QString, QJsonObject> after = listed();
		for (const QString &name : before.keys()) {
			EXPECT_EQ(after.value(name), before.value(name))
				<< row.type << " " << name.toStdString() << " "
				<< QJsonDocument(after.value(name)).toJson(QJsonDocument::Compact).constData();
		}
	}

	// A load changes several docks: its SnapshotLoaded, then one event for each dock that it changed.
	call("SetDockShown", {{"name", "mixerDock"}, {"shown", false}});
	call("SetDockFloating", {{"name", "controlsDock"}, {"floating", true}});
	QApplication::processEvents();
	events.clear();
	EXPECT_TRUE(call("LoadSnapshot", {{"name", "Alpha"}}).value(QStringLiteral("loaded")).toBool());
	QApplication::processEvents();
	QStringList order;
	for (const auto &[type, data] : events) {
		order.append(type == QLatin1String("DockChanged") ? data[QStringLiteral("name")].toString() : type);
	}
	ASSERT_FALSE(order.isEmpty());
	EXPECT_EQ(order.takeFirst(), QStringLiteral("SnapshotLoaded"));
	order.sort();
	EXPECT_EQ(order, (QStringList{"controlsDock", "mixerDock"}));

	// Lock Docks takes the floating away, not the Docks menu's check.
	dock("mixerDock")->setFeatures(QDockWidget::DockWidgetClosable);
	EXPECT_EQ(code(call("SetDockFloating", {{"name", "mixerDock"}, {"floating", true}})), QStringLiteral("Locked"));
	EXPECT_FALSE(dock("mixerDock")->isFloating());
	EXPECT_FALSE(call("SetDockShown", {{"name", "mixerDock"}, {"shown", false}}).contains(QStringLiteral("error")));
}

// "DockChanged" names each dock that changed, once, and no other: only OBS's own docks count, not a dock of a main
// window within a dock; two docks of one name are told apart; and a dock under a held mouse button counts as it is
// left, so that a drag that ends where it began changes nothing. Each row ends with the mixer hidden or shown, to
// see every event of the row in.
TEST_F(RemoteTest, EachDockThatChangedIsAnnouncedOnceAndNoOther)
{
	QDockWidget *inner = addDockWithMainWindow();
	QList<QDockWidget *> browsers;
	for (const Qt::DockWidgetArea area : {Qt::LeftDockWidgetArea, Qt::TopDockWidgetArea}) {
		auto *browser = new QDockWidget(QStringLiteral("Browser"), window);
		browser->setObjectName(QStringLiteral("Browser"));
		browser->setWidget(new QLabel(QStringLiteral("Browser")));
		window->addDockWidget(area, browser);
		browsers.append(browser);
	}
	start();
	window->show();
	ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
	QStringList listed;
	for (const QJsonValue &entry : call("GetDockList").value(QStringLiteral("docks")).toArray()) {
		listed.append(entry[QStringLiteral("name")].toString());
	}
	EXPECT_TRUE(listed.contains(QStringLiteral("holderDock")));
	EXPECT_EQ(listed.count(QStringLiteral("Browser")), 2);
	EXPECT_FALSE(listed.contains(QStringLiteral("innerDock"))) << listed.join(QLatin1Char(' ')).toStdString();

	// A window to hold the mouse button down over.
	QWidget pressed;
	pressed.setGeometry(1200, 100, 100, 100);
	pressed.show();
	ASSERT_TRUE(QTest::qWaitForWindowExposed(&pressed));
	QDockWidget *controls = window->findChild<QDockWidget *>(QStringLiteral("controlsDock"));
	QDockWidget *mixer = window->findChild<QDockWidget *>(QStringLiteral("mixerDock"));
	const struct {
		const char *what;
		std::function<void()> change;
		QStringList announced;
	} rows[] = {
		{"the dock of a main window within a dock", [&] { inner->toggleViewAction()->trigger(); }, {}},
		{"one of two docks of one name", [&] { browsers[0]->toggleViewAction()->trigger(); }, {"Browser"}},
		{"the other one", [&] { browsers[1]->setFloating(true); }, {"Browser"}},
		// A request looks at the docks at once, in the middle of the drag.
		{"a drag that ends where it began",
		 [&] {
			 QTest::mousePress(pressed.windowHandle(), Qt::LeftButton, {}, QPoint(50, 50));
			 controls->setFloating(true);
			 call("SetDockShown", {{"name", "holderDock"}, {"shown", true}});
			 controls->setFloating(false);
			 call("SetDockShown", {{"name", "holderDock"}, {"shown", true}});
			 QTest::mouseRelease(pressed.windowHandle(), Qt::LeftButton, {}, QPoint(50, 50));
		 },
		 {}},
	};
	const auto names = [&] {
		QStringList changed;
		for (const auto &[type, data] : events) {
			changed.append(type == QLatin1String("DockChanged") ? data[QStringLiteral("name")].toString()
									    : type);
		}
		return changed;
	};
	for (const auto &row : rows) {
		events.clear();
		row.change();
		EXPECT_TRUE(QTest::qWaitFor([&] { return names().size() >= row.announced.size(); })) << row.what;
		mixer->toggleViewAction()->trigger();
		EXPECT_TRUE(QTest::qWaitFor([&] { return names().contains(QStringLiteral("mixerDock")); })) << row.what;
		EXPECT_EQ(names(), row.announced + QStringList{QStringLiteral("mixerDock")}) << row.what;
	}
	EXPECT_FALSE(controls->isFloating());
}
