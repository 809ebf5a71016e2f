#include "settings/SettingsFile.hpp"
#include "support/ControllerTest.hpp"
#include "support/Documents.hpp"
#include "support/DockWindow.hpp"
#include "support/Modal.hpp"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

#include <obs.h>

#include <map>
#include <thread>
#include <vector>

namespace {

struct HotkeyInfo {
	obs_hotkey_id id;
	QString description;
};

// Every hotkey the host knows, by name.
std::map<QString, HotkeyInfo> registeredHotkeys()
{
	std::map<QString, HotkeyInfo> found;
	obs_enum_hotkeys(
		[](void *data, obs_hotkey_id id, obs_hotkey_t *key) {
			(*static_cast<std::map<QString, HotkeyInfo> *>(
				data))[QString::fromUtf8(obs_hotkey_get_name(key))] =
				HotkeyInfo{id, QString::fromUtf8(obs_hotkey_get_description(key))};
			return true;
		},
		&found);
	return found;
}

const QJsonArray kF9{QJsonObject{{QStringLiteral("key"), QStringLiteral("OBS_KEY_F9")}}};

class HotkeysTest : public ControllerTest {
protected:
	void SetUp() override
	{
		ControllerTest::SetUp();
		addTestDocks(window, false);
		QDir().mkpath(snapshotDirectory());
	}

	void addSnapshots(const QStringList &names) { addLayoutSnapshots(names); }

	Velkin *start()
	{
		makeController();
		standin::fireEvent(OBS_FRONTEND_EVENT_FINISHED_LOADING);
		return velkin;
	}

	// Presses a hotkey the way obs-websocket does, from a thread of its own, and lets the press arrive.
	static void press(obs_hotkey_id id, bool pressed = true)
	{
		std::thread host([id, pressed] { obs_hotkey_trigger_routed_callback(id, pressed); });
		host.join();
		// The press arrives as a queued call, which queues the load it asks for.
		QCoreApplication::sendPostedEvents();
		QCoreApplication::sendPostedEvents();
		QTest::qWait(20);
	}

	// Delivers the presses that the host posted and the load they queued.
	void settle() const
	{
		EXPECT_TRUE(QTest::qWaitFor([this] {
			QCoreApplication::sendPostedEvents();
			return !probe(velkin).pressedLoadQueued();
		}));
	}

	static QJsonObject savedSettings() { return QJsonDocument::fromJson(readTestBytes(settingsPath())).object(); }
};

TEST_F(HotkeysTest, NamesAndDescriptionsFollowTheSnapshots)
{
	addSnapshots({QStringLiteral("Streaming")});
	start();
	auto hotkeys = registeredHotkeys();
	ASSERT_EQ(hotkeys.count(QStringLiteral("obs-velkin.cycle")), 1u);
	EXPECT_EQ(hotkeys[QStringLiteral("obs-velkin.cycle")].description, localeText("CycleHotkey"));
	EXPECT_EQ(hotkeys[QStringLiteral("obs-velkin.previous")].description, localeText("PreviousHotkey"));
	EXPECT_EQ(hotkeys[QStringLiteral("obs-velkin.open")].description, localeText("OpenHotkey"));
	const QString loadName = QStringLiteral("obs-velkin.load.Streaming.json");
	ASSERT_EQ(hotkeys.count(loadName), 1u);
	EXPECT_EQ(hotkeys[loadName].description, localeText("LoadHotkey").arg(QStringLiteral("Streaming")));
	const obs_hotkey_id id = hotkeys[loadName].id;
	EXPECT_EQ(probe(velkin).loadHotkeys().value(path(QStringLiteral("Streaming"))), id);

	// The document now carries another display name: the same hotkey gets the new description.
	SnapshotData data;
	ASSERT_EQ(readSnapshotFile(path(QStringLiteral("Streaming")), data), SnapshotIoResult::Ok);
	data.name = QStringLiteral("Streaming (late night)");
	ASSERT_EQ(writeSnapshotFile(path(QStringLiteral("Streaming")), data), SnapshotIoResult::Ok);
	velkin->refreshSnapshotList(QString());
	hotkeys = registeredHotkeys();
	EXPECT_EQ(hotkeys[loadName].id, id);
	EXPECT_EQ(hotkeys[loadName].description, localeText("LoadHotkey").arg(data.name));

	// A vanished file loses its hotkey; a shutdown removes them all.
	QFile::remove(path(QStringLiteral("Streaming")));
	velkin->refreshSnapshotList(QString());
	EXPECT_EQ(registeredHotkeys().count(loadName), 0u);
	EXPECT_TRUE(probe(velkin).loadHotkeys().isEmpty());
	velkin->shutdown();
	EXPECT_EQ(registeredHotkeys().count(QStringLiteral("obs-velkin.cycle")), 0u);
}

TEST_F(HotkeysTest, CycleStepsThroughTheOrderAndWraps)
{
	start();
	// No snapshots: nothing happens, nothing is shown.
	auto records = answerModals(clickOk, [&] {
		press(probe(velkin).cycleHotkeyId());
		press(probe(velkin).previousHotkeyId());
	});
	EXPECT_TRUE(records.isEmpty());
	EXPECT_TRUE(probe(velkin).last().isEmpty());

	addSnapshots({QStringLiteral("S1"), QStringLiteral("S2"), QStringLiteral("S3")});
	velkin->refreshSnapshotList(QString());
	probe(velkin).last() = QStringLiteral("/elsewhere/S2.json"); // only the file name counts
	press(probe(velkin).cycleHotkeyId());
	EXPECT_EQ(probe(velkin).last(), path(QStringLiteral("S3")));
	press(probe(velkin).cycleHotkeyId());
	EXPECT_EQ(probe(velkin).last(), path(QStringLiteral("S1")));
	press(probe(velkin).previousHotkeyId());
	EXPECT_EQ(probe(velkin).last(), path(QStringLiteral("S3")));

	probe(velkin).last().clear();
	press(probe(velkin).previousHotkeyId());
	EXPECT_EQ(probe(velkin).last(), path(QStringLiteral("S3")));
	probe(velkin).last().clear();
	press(probe(velkin).cycleHotkeyId());
	EXPECT_EQ(probe(velkin).last(), path(QStringLiteral("S1")));

	// A load that fails leaves last, so the next press aims at the same snapshot again.
	writeTestBytes(path(QStringLiteral("S2")), "damaged");
	records = answerModals(clickOk, [&] {
		press(probe(velkin).cycleHotkeyId());
		press(probe(velkin).cycleHotkeyId());
	});
	ASSERT_EQ(records.size(), 2);
	EXPECT_EQ(records[1].text, localeText("ReadFailed") + QStringLiteral("\n\n") + path(QStringLiteral("S2")));
	EXPECT_EQ(probe(velkin).last(), path(QStringLiteral("S1")));
}

// Presses that arrive together restore one layout: the one the whole sequence ends on, counted from `last`, as if
// each had loaded in turn.
TEST_F(HotkeysTest, ABurstOfPressesLoadsOnlyWhereItEnds)
{
	const QStringList names{QStringLiteral("S1"), QStringLiteral("S2"), QStringLiteral("S3"), QStringLiteral("S4")};
	addSnapshots(names);
	start();
	// A press: +1 next, -1 previous, or the row of a snapshot's own hotkey (10 + row). `ends` is where the presses,
	// counted one by one from `last` in the order S1 S2 S3 S4, leave it.
	struct Case {
		const char *what;
		const char *last;
		std::vector<int> presses;
		int repeat;
		const char *ends;
	};
	const Case cases[] = {
		{"next, many times round", "S2", {+1}, 203, "S1"},
		{"previous, many times round", "S1", {-1}, 203, "S2"},
		{"previous past the first", "S2", {-1, -1, -1}, 1, "S3"},
		{"next past the last", "S4", {+1}, 1, "S1"},
		{"a snapshot's own hotkey, then next", "S1", {13, +1, +1, -1, +1}, 1, "S2"},
		{"no last snapshot: next first", "", {+1, +1}, 1, "S2"},
		{"no last snapshot: previous first", "", {-1, +1, +1}, 1, "S2"},
		{"no last snapshot: previous alone", "", {-1}, 1, "S4"},
		{"mixed, a thousand times", "S3", {+1, 11, -1, -1, 12, +1, +1}, 150, "S1"},
	};
	for (const Case &test : cases) {
		SCOPED_TRACE(test.what);
		probe(velkin).last() = *test.last ? path(QString::fromLatin1(test.last)) : QString();
		std::vector<obs_hotkey_id> ids;
		for (int round = 0; round < test.repeat; ++round) {
			for (const int press : test.presses) {
				ids.push_back(press >= 10 ? probe(velkin).loadHotkeys().value(path(names[press - 10]))
					      : press > 0 ? probe(velkin).cycleHotkeyId()
							  : probe(velkin).previousHotkeyId());
			}
		}
		int loads = 0;
		probe(velkin).remote().setEventListener(
			[&](const char *type, const QJsonObject &) { loads += QByteArray(type) == "SnapshotLoaded"; });
		std::thread host([&ids] {
			for (const obs_hotkey_id id : ids) {
				obs_hotkey_trigger_routed_callback(id, true);
			}
		});
		host.join();
		settle();
		EXPECT_EQ(probe(velkin).last(), path(QString::fromLatin1(test.ends)));
		EXPECT_EQ(loads, 1) << "restores for " << ids.size() << " presses";
		probe(velkin).remote().setEventListener(nullptr);
	}

	// Undo and the dialog's hotkey come after the loads pressed before them.
	probe(velkin).last() = path(QStringLiteral("S1"));
	std::thread host([this] {
		for (const obs_hotkey_id id : {probe(velkin).cycleHotkeyId(), probe(velkin).cycleHotkeyId(),
					       probe(velkin).undoHotkeyId(), probe(velkin).cycleHotkeyId()}) {
			obs_hotkey_trigger_routed_callback(id, true);
		}
	});
	host.join();
	settle();
	EXPECT_EQ(probe(velkin).last(), path(QStringLiteral("S2")));
}

TEST_F(HotkeysTest, ASingleSnapshotReloadsItself)
{
	addSnapshots({QStringLiteral("Only")});
	start();
	press(probe(velkin).cycleHotkeyId());
	EXPECT_EQ(probe(velkin).last(), path(QStringLiteral("Only")));
	probe(velkin).last() = QStringLiteral("/x/Only.json");
	press(probe(velkin).previousHotkeyId());
	EXPECT_EQ(probe(velkin).last(), path(QStringLiteral("Only")));
}

TEST_F(HotkeysTest, OnlyPressesOfAnActiveControllerCount)
{
	addSnapshots({QStringLiteral("A"), QStringLiteral("B")});
	makeController();
	const obs_hotkey_id cycle = probe(velkin).cycleHotkeyId();
	press(cycle);
	EXPECT_TRUE(probe(velkin).last().isEmpty()) << "before activation";
	standin::fireEvent(OBS_FRONTEND_EVENT_FINISHED_LOADING);
	const obs_hotkey_id loadB = probe(velkin).loadHotkeys().value(path(QStringLiteral("B")));
	press(loadB, false);
	EXPECT_TRUE(probe(velkin).last().isEmpty()) << "a release";
	press(loadB);
	EXPECT_EQ(probe(velkin).last(), path(QStringLiteral("B")));

	// A press queued just before its snapshot went away finds no path.
	probe(velkin).last().clear();
	std::thread host([loadB] { obs_hotkey_trigger_routed_callback(loadB, true); });
	host.join();
	QFile::remove(path(QStringLiteral("B")));
	velkin->refreshSnapshotList(QString());
	const auto records = answerModals(clickOk, [] { QTest::qWait(50); });
	EXPECT_TRUE(records.isEmpty());
	EXPECT_TRUE(probe(velkin).last().isEmpty());

	velkin->shutdown();
	probe(velkin).dispatchHotkey(cycle);
	QTest::qWait(20);
	EXPECT_TRUE(probe(velkin).last().isEmpty()) << "after shutdown";
}

TEST_F(HotkeysTest, BindingsSurviveARestartAndChangesSaveOnce)
{
	addSnapshots({QStringLiteral("Live")});
	start();
	QFile::remove(settingsPath());
	// A change of some other hotkey of the host writes nothing.
	const obs_hotkey_id other = obs_hotkey_register_frontend("other.module", "Other", nullptr, nullptr);
	hotkeyBindingsFromJson(other, kF9);
	QTest::qWait(250);
	EXPECT_FALSE(QFileInfo::exists(settingsPath()));

	// A change of ours writes once, 100 ms later.
	const obs_hotkey_id live = probe(velkin).loadHotkeys().value(path(QStringLiteral("Live")));
	hotkeyBindingsFromJson(live, kF9);
	hotkeyBindingsFromJson(probe(velkin).openHotkeyId(), kF9);
	QTest::qWait(30);
	EXPECT_FALSE(QFileInfo::exists(settingsPath()));
	QTest::qWait(250);
	const QJsonObject saved = savedSettings();
	EXPECT_EQ(saved.value(QStringLiteral("snapshotHotkeys"))
			  .toObject()
			  .value(QStringLiteral("Live.json"))
			  .toArray()
			  .size(),
		  1);
	EXPECT_EQ(saved.value(QStringLiteral("openHotkey")).toArray().size(), 1);

	delete velkin.data();
	start();
	EXPECT_EQ(hotkeyBindingsToJson(probe(velkin).loadHotkeys().value(path(QStringLiteral("Live")))).size(), 1);
	EXPECT_EQ(hotkeyBindingsToJson(probe(velkin).openHotkeyId()).size(), 1);
	obs_hotkey_unregister(other);
}

TEST_F(HotkeysTest, ASnapshotRecreatedUnderAnOldFileNameStartsWithoutItsBinding)
{
	addSnapshots({QStringLiteral("Live")});
	start();
	hotkeyBindingsFromJson(probe(velkin).loadHotkeys().value(path(QStringLiteral("Live"))), kF9);
	velkin->saveSettings();
	QFile::remove(path(QStringLiteral("Live")));
	velkin->refreshSnapshotList(QString());
	answerModals(typeName(QStringLiteral("Live")), [&] { velkin->saveNewSnapshot(); });
	ASSERT_EQ(probe(velkin).last(), path(QStringLiteral("Live")));
	EXPECT_TRUE(hotkeyBindingsToJson(probe(velkin).loadHotkeys().value(path(QStringLiteral("Live")))).isEmpty());
	EXPECT_FALSE(savedSettings()
			     .value(QStringLiteral("snapshotHotkeys"))
			     .toObject()
			     .value(QStringLiteral("Live.json"))
			     .toArray()
			     .size() > 0);
}

TEST_F(HotkeysTest, AMovedFileTakesItsHotkeyAlong)
{
	writeTestDocument(snapshotDirectory(), QStringLiteral("hand named.json"), QStringLiteral("Talk"));
	start();
	const obs_hotkey_id id = probe(velkin).loadHotkeys().value(path(QStringLiteral("hand named")));
	hotkeyBindingsFromJson(id, kF9);
	velkin->saveSettings();
	SnapshotData data;
	data.name = QStringLiteral("Talk");
	data.state = window->saveState(0);
	data.geometry = window->saveGeometry();
	EXPECT_EQ(probe(velkin).storeSnapshot(data, path(QStringLiteral("hand named"))), path(QStringLiteral("Talk")));
	EXPECT_EQ(probe(velkin).loadHotkeys().value(path(QStringLiteral("Talk"))), id);
	const auto hotkeys = registeredHotkeys();
	ASSERT_EQ(hotkeys.count(QStringLiteral("obs-velkin.load.Talk.json")), 1u);
	EXPECT_EQ(hotkeys.at(QStringLiteral("obs-velkin.load.Talk.json")).id, id);
	EXPECT_EQ(hotkeyBindingsToJson(id).size(), 1);
	velkin->saveSettings();
	EXPECT_EQ(savedSettings().value(QStringLiteral("snapshotHotkeys")).toObject().keys(),
		  QStringList{QStringLiteral("Talk.json")});
}

// A file deleted outside the plug-in keeps its hotkey until the next refresh. Moving another snapshot onto that
// file name must not leave the old hotkey in the host's list, bound and pointing at the controller, nor let its
// binding pass to the moved snapshot.
TEST_F(HotkeysTest, AMoveOntoAFileDeletedOutsideDropsWhatWasLeftUnderThatName)
{
	addSnapshots({QStringLiteral("Live"), QStringLiteral("Talk")});
	start();
	const obs_hotkey_id live = probe(velkin).loadHotkeys().value(path(QStringLiteral("Live")));
	const obs_hotkey_id stale = probe(velkin).loadHotkeys().value(path(QStringLiteral("Talk")));
	hotkeyBindingsFromJson(stale, kF9);
	velkin->saveSettings();
	ASSERT_TRUE(QFile::remove(path(QStringLiteral("Talk"))));
	// The moved snapshot has no bindings entry of its own.
	QJsonObject bindings = probe(velkin).settings().value(QStringLiteral("snapshotHotkeys")).toObject();
	bindings.remove(QStringLiteral("Live.json"));
	probe(velkin).settings().insert(QStringLiteral("snapshotHotkeys"), bindings);

	SnapshotData data;
	data.name = QStringLiteral("Talk");
	data.state = window->saveState(0);
	data.geometry = window->saveGeometry();
	EXPECT_EQ(probe(velkin).storeSnapshot(data, path(QStringLiteral("Live"))), path(QStringLiteral("Talk")));
	EXPECT_FALSE(probe(velkin)
			     .settings()
			     .value(QStringLiteral("snapshotHotkeys"))
			     .toObject()
			     .contains(QStringLiteral("Talk.json")));
	EXPECT_EQ(probe(velkin).snapshotOrder(), QStringList{QStringLiteral("Talk.json")});
	EXPECT_EQ(probe(velkin).loadHotkeys().keys(), QStringList{path(QStringLiteral("Talk"))});
	EXPECT_EQ(probe(velkin).loadHotkeys().value(path(QStringLiteral("Talk"))), live);
	auto hotkeys = registeredHotkeys();
	ASSERT_EQ(hotkeys.count(QStringLiteral("obs-velkin.load.Talk.json")), 1u);
	EXPECT_EQ(hotkeys.at(QStringLiteral("obs-velkin.load.Talk.json")).id, live);
	for (const auto &[name, info] : hotkeys) {
		EXPECT_NE(info.id, stale) << "the deleted file's hotkey is still registered as " << name.toStdString();
	}
	EXPECT_TRUE(hotkeyBindingsToJson(live).isEmpty());

	delete velkin.data();
	for (const auto &[name, info] : registeredHotkeys()) {
		EXPECT_FALSE(name.startsWith(QStringLiteral("obs-velkin.")))
			<< name.toStdString() << " outlived the controller";
	}
}

// The host quits while a load hotkey's question is open: the shutdown empties the hotkey map under the load that
// the hotkey started, which must not depend on it afterwards.
TEST_F(HotkeysTest, AnExitWhileALoadHotkeyAsksLeavesEverythingAsItWas)
{
	SnapshotData data;
	data.name = QStringLiteral("Elsewhere");
	data.state = window->saveState(0);
	data.geometry = window->saveGeometry();
	data.docks = {QStringLiteral("scenesDock"), QStringLiteral("chatDock")};
	ASSERT_EQ(writeSnapshotFile(path(QStringLiteral("Elsewhere")), data), SnapshotIoResult::Ok);
	start();
	probe(velkin).last() = QStringLiteral("/before.json");
	const auto records = answerModals(
		[](QWidget *question) {
			standin::fireEvent(OBS_FRONTEND_EVENT_EXIT);
			clickAccept(question);
		},
		[&] {
			probe(velkin).dispatchHotkey(
				probe(velkin).loadHotkeys().value(path(QStringLiteral("Elsewhere"))));
			QCoreApplication::sendPostedEvents();
		});
	ASSERT_EQ(records.size(), 1);
	EXPECT_TRUE(probe(velkin).shuttingDown());
	EXPECT_TRUE(probe(velkin).loadHotkeys().isEmpty());
	EXPECT_EQ(probe(velkin).last(), QStringLiteral("/before.json"));
	EXPECT_FALSE(probe(velkin).busy());
}

} // namespace
