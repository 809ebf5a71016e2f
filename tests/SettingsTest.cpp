#include "settings/SettingsFile.hpp"
#include "support/Facility.hpp"
#include "support/ControllerTest.hpp"
#include "support/Documents.hpp"
#include "support/Modal.hpp"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTest>

#include <sys/stat.h>

namespace {

class SettingsTest : public ControllerTest {
protected:
	void SetUp() override
	{
		ControllerTest::SetUp();
		QDir().mkpath(snapshotDirectory());
	}

	static QJsonObject readSettingsFile()
	{
		return QJsonDocument::fromJson(readTestBytes(settingsPath())).object();
	}

	static void writeSettingsFile(const QJsonObject &object)
	{
		writeTestBytes(settingsPath(), QJsonDocument(object).toJson());
	}

	static QStringList sortedKeys(const QJsonObject &object)
	{
		QStringList keys = object.keys();
		keys.sort();
		return keys;
	}

	const QStringList sixKeys{QStringLiteral("cycleHotkey"),     QStringLiteral("last"),
				  QStringLiteral("openHotkey"),      QStringLiteral("previousHotkey"),
				  QStringLiteral("snapshotHotkeys"), QStringLiteral("snapshotOrder")};
};

TEST_F(SettingsTest, FirstRunWritesAllSixKeysAtActivation)
{
	writeTestDocument(snapshotDirectory(), QStringLiteral("b.json"), QStringLiteral("Beta"));
	writeTestDocument(snapshotDirectory(), QStringLiteral("a.json"), QStringLiteral("alpha"));
	Velkin *velkin = makeController();
	EXPECT_TRUE(probe(velkin).last().isEmpty());
	EXPECT_TRUE(probe(velkin).snapshotOrder().isEmpty());
	EXPECT_FALSE(QFileInfo::exists(settingsPath())) << "nothing is written before activation";

	standin::fireEvent(OBS_FRONTEND_EVENT_FINISHED_LOADING);
	const QJsonObject saved = readSettingsFile();
	EXPECT_EQ(sortedKeys(saved), sixKeys);
	EXPECT_EQ(saved.value(QStringLiteral("last")), QJsonValue(QString()));
	EXPECT_EQ(saved.value(QStringLiteral("snapshotOrder")),
		  QJsonValue(QJsonArray{QStringLiteral("a.json"), QStringLiteral("b.json")}));
	EXPECT_EQ(saved.value(QStringLiteral("cycleHotkey")), QJsonValue(QJsonArray()));
	EXPECT_TRUE(saved.value(QStringLiteral("snapshotHotkeys")).isObject());
	EXPECT_EQ(probe(velkin).settings(), saved);
}

TEST_F(SettingsTest, ReadKeepsStringsAndTheSaveDropsEverythingElse)
{
	writeTestDocument(snapshotDirectory(), QStringLiteral("one.json"), QStringLiteral("One"));
	writeTestDocument(snapshotDirectory(), QStringLiteral("two.json"), QStringLiteral("Two"));
	writeSettingsFile(QJsonObject{
		{QStringLiteral("last"), QStringLiteral("/somewhere/two.json")},
		{QStringLiteral("snapshotOrder"),
		 QJsonArray{QStringLiteral("two.json"), 7, QStringLiteral("one.json")}},
		{QStringLiteral("snapshotHotkeys"),
		 QJsonObject{{QStringLiteral("gone.json"),
			      QJsonArray{QJsonObject{{QStringLiteral("key"), QStringLiteral("OBS_KEY_F9")}}}}}},
		{QStringLiteral("unknownKey"), true},
	});
	Velkin *velkin = makeController();
	EXPECT_EQ(probe(velkin).last(), QStringLiteral("/somewhere/two.json"));
	EXPECT_EQ(probe(velkin).snapshotOrder(), (QStringList{QStringLiteral("two.json"), QStringLiteral("one.json")}));
	EXPECT_TRUE(probe(velkin).settings().contains(QStringLiteral("unknownKey")));

	standin::fireEvent(OBS_FRONTEND_EVENT_FINISHED_LOADING);
	const QJsonObject saved = readSettingsFile();
	EXPECT_EQ(sortedKeys(saved), sixKeys);
	EXPECT_EQ(saved.value(QStringLiteral("snapshotOrder")),
		  QJsonValue(QJsonArray{QStringLiteral("two.json"), QStringLiteral("one.json")}));
	EXPECT_FALSE(saved.value(QStringLiteral("snapshotHotkeys")).toObject().contains(QStringLiteral("gone.json")));
	EXPECT_EQ(saved.value(QStringLiteral("last")).toString(), QStringLiteral("/somewhere/two.json"));
}

// An earlier run may have stored last in another spelling of the same file: OBS gave the path differently then,
// or an older version stored it as OBS gave it. It is held as the catalogue lists the file; a path outside the
// snapshot folder stays where it points, cleaned.
TEST_F(SettingsTest, ALastSpelledDifferentlyIsMatchedToTheListedFile)
{
	writeTestDocument(snapshotDirectory(), QStringLiteral("Live.json"), QStringLiteral("Live"));
	const QString link = testhost::scratchDirectory() + QStringLiteral("/linked snapshots");
	ASSERT_TRUE(QFile::link(snapshotDirectory(), link));
	const struct {
		const char *form;
		QString stored;
		QString held;
	} cases[] = {
		{"doubled slashes", moduleConfigDirectory() + QStringLiteral("//snapshots//Live.json"),
		 path(QStringLiteral("Live"))},
		{"dot segments", snapshotDirectory() + QStringLiteral("/./../snapshots/Live.json"),
		 path(QStringLiteral("Live"))},
		{"relative", QDir::current().relativeFilePath(path(QStringLiteral("Live"))),
		 path(QStringLiteral("Live"))},
		{"through a link", link + QStringLiteral("/Live.json"), path(QStringLiteral("Live"))},
		{"listed form", path(QStringLiteral("Live")), path(QStringLiteral("Live"))},
		{"outside the folder", QStringLiteral("/elsewhere//old.json"), QStringLiteral("/elsewhere/old.json")},
		{"empty", QString(), QString()},
	};
	for (const auto &c : cases) {
		writeSettingsFile(QJsonObject{{QStringLiteral("last"), c.stored}});
		Velkin *velkin = makeController();
		EXPECT_EQ(probe(velkin).last(), c.held) << c.form;
		standin::fireEvent(OBS_FRONTEND_EVENT_FINISHED_LOADING);
		EXPECT_EQ(readSettingsFile().value(QStringLiteral("last")).toString(), c.held) << c.form;
		delete velkin;
		standin::eventCallbacks.clear();
	}
}

TEST_F(SettingsTest, DamagedOversizedOrOddFilesGiveDefaultsAndAreReplaced)
{
	const QByteArray big = "{\"last\": \"" + QByteArray(5 * 1024 * 1024, 'x') + "\"}";
	for (const QByteArray &content : {big, QByteArray("{\"last\": "), QByteArray("[\"last\"]")}) {
		writeTestBytes(settingsPath(), content);
		Velkin *velkin = makeController();
		EXPECT_TRUE(probe(velkin).last().isEmpty());
		EXPECT_TRUE(probe(velkin).settings().isEmpty());
		standin::fireEvent(OBS_FRONTEND_EVENT_FINISHED_LOADING);
		EXPECT_EQ(sortedKeys(readSettingsFile()), sixKeys);
		delete velkin;
		EXPECT_TRUE(testhost::pluginLogLines().isEmpty());
	}
}

TEST_F(SettingsTest, AFifoInPlaceOfTheFileNeitherBlocksNorBreaksTheStart)
{
	ASSERT_EQ(mkfifo(settingsPath().toUtf8().constData(), 0600), 0);
	Velkin *velkin = makeController();
	EXPECT_TRUE(probe(velkin).settings().isEmpty());
	standin::fireEvent(OBS_FRONTEND_EVENT_FINISHED_LOADING);
	EXPECT_EQ(sortedKeys(readSettingsFile()), sixKeys) << "the save replaced the FIFO with a file";
}

TEST_F(SettingsTest, TimerCollapsesABurstIntoOneSaveAfterTheLastStart)
{
	Velkin *velkin = makeController();
	standin::fireEvent(OBS_FRONTEND_EVENT_FINISHED_LOADING);
	ASSERT_TRUE(QFile::remove(settingsPath()));

	for (const char *last : {"/a.json", "/b.json", "/c.json"}) {
		probe(velkin).last() = QString::fromLatin1(last);
		probe(velkin).settingsSaveTimer().start();
		QTest::qWait(50);
		EXPECT_FALSE(QFileInfo::exists(settingsPath())) << "no save before 100 ms after the last start";
	}
	QElapsedTimer waited;
	waited.start();
	while (!QFileInfo::exists(settingsPath()) && waited.elapsed() < 5000) {
		QTest::qWait(5);
	}
	EXPECT_EQ(readSettingsFile().value(QStringLiteral("last")).toString(), QStringLiteral("/c.json"));
	ASSERT_TRUE(QFile::remove(settingsPath()));
	QTest::qWait(200);
	EXPECT_FALSE(QFileInfo::exists(settingsPath())) << "one write for the whole burst";

	// Not ready, or shutting down: the timer saves nothing.
	probe(velkin).ready() = false;
	probe(velkin).settingsSaveTimer().start();
	QTest::qWait(200);
	EXPECT_FALSE(QFileInfo::exists(settingsPath()));
}

TEST_F(SettingsTest, AFailedSaveIsLoggedAndKeepsTheOldFile)
{
	Velkin *velkin = makeController();
	standin::fireEvent(OBS_FRONTEND_EVENT_FINISHED_LOADING);
	const QByteArray before = readTestBytes(settingsPath());
	VELKIN_REQUIRE_FACILITY(
		QProcess::execute(QStringLiteral("chattr"), {QStringLiteral("+i"), settingsPath()}) == 0, "chattr");
	probe(velkin).last() = QStringLiteral("/changed.json");
	const auto records = answerModals(clickOk, [&] { velkin->saveSettings(); });
	QProcess::execute(QStringLiteral("chattr"), {QStringLiteral("-i"), settingsPath()});
	EXPECT_TRUE(records.isEmpty()) << "a failed settings save is never shown";
	EXPECT_EQ(testhost::logLines().filter(QStringLiteral("[obs-velkin] Could not save settings: ")).size(), 1);
	EXPECT_EQ(readTestBytes(settingsPath()), before);
	EXPECT_EQ(probe(velkin).settings().value(QStringLiteral("last")).toString(), QStringLiteral("/changed.json"));

	// A directory in place of the file: the same warning, and the module goes on.
	ASSERT_TRUE(QFile::remove(settingsPath()));
	ASSERT_TRUE(QDir().mkdir(settingsPath()));
	velkin->saveSettings();
	EXPECT_EQ(testhost::logLines().filter(QStringLiteral("[obs-velkin] Could not save settings: ")).size(), 2);
}

TEST_F(SettingsTest, ExitSavesOnceAndUnloadWritesNothingMore)
{
	Velkin *velkin = makeController();
	standin::fireEvent(OBS_FRONTEND_EVENT_FINISHED_LOADING);
	ASSERT_TRUE(QFile::remove(settingsPath()));
	probe(velkin).last() = QStringLiteral("/final.json");
	standin::fireEvent(OBS_FRONTEND_EVENT_EXIT);
	EXPECT_EQ(readSettingsFile().value(QStringLiteral("last")).toString(), QStringLiteral("/final.json"));
	ASSERT_TRUE(QFile::remove(settingsPath()));
	delete velkin;
	EXPECT_FALSE(QFileInfo::exists(settingsPath()));

	// A controller that never became ready never writes the file.
	velkin = makeController();
	delete velkin;
	EXPECT_FALSE(QFileInfo::exists(settingsPath()));
}

TEST_F(SettingsTest, BindingsTravelThroughTheHostUnchanged)
{
	const obs_hotkey_id id = obs_hotkey_register_frontend("velkin-test.binding", "Test", nullptr, nullptr);
	ASSERT_NE(id, OBS_INVALID_HOTKEY_ID);
	const QJsonArray bindings{
		QJsonObject{{QStringLiteral("key"), QStringLiteral("OBS_KEY_F9")}},
		QJsonObject{{QStringLiteral("key"), QStringLiteral("OBS_KEY_A")}, {QStringLiteral("control"), true}}};
	hotkeyBindingsFromJson(id, bindings);
	const QJsonArray saved = hotkeyBindingsToJson(id);
	ASSERT_EQ(saved.size(), 2);
	QStringList keys;
	for (const QJsonValue &binding : saved) {
		keys.append(binding.toObject().value(QStringLiteral("key")).toString());
	}
	keys.sort();
	EXPECT_EQ(keys, (QStringList{QStringLiteral("OBS_KEY_A"), QStringLiteral("OBS_KEY_F9")}));
	// Feeding the saved form back in gives the same form again.
	hotkeyBindingsFromJson(id, saved);
	EXPECT_EQ(hotkeyBindingsToJson(id), saved);

	hotkeyBindingsFromJson(id, QJsonArray());
	EXPECT_TRUE(hotkeyBindingsToJson(id).isEmpty());
	EXPECT_TRUE(hotkeyBindingsToJson(OBS_INVALID_HOTKEY_ID).isEmpty());
	obs_hotkey_unregister(id);
}

} // namespace
