#include "settings/SettingsFile.hpp"
#include "support/Facility.hpp"
#include "support/ControllerTest.hpp"
#include "support/Documents.hpp"
#include "support/DockWindow.hpp"
#include "support/Modal.hpp"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QListWidget>
#include <QProcess>
#include <QTest>

#include <obs.h>

namespace {

const QJsonArray kF9{QJsonObject{{QStringLiteral("key"), QStringLiteral("OBS_KEY_F9")}}};

class RenameDeleteTest : public ControllerTest {
protected:
	void SetUp() override
	{
		ControllerTest::SetUp();
		addTestDocks(window, false);
		QDir().mkpath(snapshotDirectory());
	}

	void start(const QStringList &names)
	{
		for (const QString &name : names) {
			writeTestDocument(snapshotDirectory(), name + QStringLiteral(".json"), name);
		}
		makeController();
		probe(velkin).snapshotOrder() = QStringList();
		for (const QString &name : names) {
			probe(velkin).snapshotOrder().append(name + QStringLiteral(".json"));
		}
		standin::fireEvent(OBS_FRONTEND_EVENT_FINISHED_LOADING);
		velkin->showManagerDialog();
		ASSERT_TRUE(QTest::qWaitForWindowExposed(probe(velkin).managerDialog()));
		probe(velkin).managerDialog()->activateWindow();
		QApplication::processEvents();
	}

	void select(const QString &name) { velkin->refreshSnapshotList(path(name)); }

	static QJsonObject savedSettings() { return QJsonDocument::fromJson(readTestBytes(settingsPath())).object(); }

	static QString hotkeyName(obs_hotkey_id id)
	{
		QString found;
		struct Search {
			obs_hotkey_id id;
			QString *name;
		} search{id, &found};
		obs_enum_hotkeys(
			[](void *data, obs_hotkey_id hotkey, obs_hotkey_t *key) {
				auto *s = static_cast<Search *>(data);
				if (hotkey == s->id) {
					*s->name = QString::fromUtf8(obs_hotkey_get_name(key)) + QLatin1Char('|') +
						   QString::fromUtf8(obs_hotkey_get_description(key));
				}
				return true;
			},
			&search);
		return found;
	}
};

TEST_F(RenameDeleteTest, RenameToTheSameNameRewritesInPlace)
{
	start({QStringLiteral("Intro")});
	select(QStringLiteral("Intro"));
	const obs_hotkey_id id = probe(velkin).loadHotkeys().value(path(QStringLiteral("Intro")));
	const auto records = answerModals(clickAccept, [&] { velkin->renameSnapshot(); });
	ASSERT_EQ(records.size(), 1);
	EXPECT_EQ(records[0].value, QStringLiteral("Intro")) << "the prompt starts from the stored name";
	EXPECT_EQ(QDir(snapshotDirectory()).entryList(QDir::Files), QStringList{QStringLiteral("Intro.json")});
	EXPECT_EQ(probe(velkin).loadHotkeys().value(path(QStringLiteral("Intro"))), id);
}

TEST_F(RenameDeleteTest, RenameMovesTheFileAndEveryReference)
{
	start({QStringLiteral("First"), QStringLiteral("intro"), QStringLiteral("Last")});
	const obs_hotkey_id id = probe(velkin).loadHotkeys().value(path(QStringLiteral("intro")));
	hotkeyBindingsFromJson(id, kF9);
	probe(velkin).last() = path(QStringLiteral("intro"));
	select(QStringLiteral("intro"));

	// A change of letter case alone is accepted and moves the file.
	answerModals(typeName(QStringLiteral("Intro")), [&] { velkin->renameSnapshot(); });
	EXPECT_EQ(
		QDir(snapshotDirectory()).entryList(QDir::Files),
		(QStringList{QStringLiteral("First.json"), QStringLiteral("Intro.json"), QStringLiteral("Last.json")}));
	EXPECT_EQ(
		probe(velkin).snapshotOrder(),
		(QStringList{QStringLiteral("First.json"), QStringLiteral("Intro.json"), QStringLiteral("Last.json")}));
	EXPECT_EQ(probe(velkin).last(), path(QStringLiteral("Intro")));
	EXPECT_EQ(probe(velkin).loadHotkeys().value(path(QStringLiteral("Intro"))), id);
	EXPECT_EQ(hotkeyName(id), QStringLiteral("obs-velkin.load.Intro.json|") +
					  localeText("LoadHotkey").arg(QStringLiteral("Intro")));
	EXPECT_EQ(hotkeyBindingsToJson(id).size(), 1);
	const QJsonObject saved = savedSettings();
	EXPECT_EQ(saved.value(QStringLiteral("last")).toString(), path(QStringLiteral("Intro")));
	EXPECT_EQ(saved.value(QStringLiteral("snapshotHotkeys"))
			  .toObject()
			  .value(QStringLiteral("Intro.json"))
			  .toArray()
			  .size(),
		  1);

	// Renaming another snapshot leaves last alone.
	select(QStringLiteral("First"));
	answerModals(typeName(QStringLiteral("Opening")), [&] { velkin->renameSnapshot(); });
	EXPECT_EQ(probe(velkin).last(), path(QStringLiteral("Intro")));
	EXPECT_EQ(probe(velkin).snapshotOrder().first(), QStringLiteral("Opening.json"));
	EXPECT_EQ(probe(velkin).selectedSnapshotPath(), path(QStringLiteral("Opening")));
}

TEST_F(RenameDeleteTest, DeleteAsksWithContinueAsDefaultAndDropsEveryReference)
{
	start({QStringLiteral("One"), QStringLiteral("Two")});
	const obs_hotkey_id id = probe(velkin).loadHotkeys().value(path(QStringLiteral("Two")));
	hotkeyBindingsFromJson(id, kF9);
	probe(velkin).last() = path(QStringLiteral("Two"));
	select(QStringLiteral("Two"));

	// Cancel keeps everything; Return answers with the default, Continue.
	answerModals(clickReject, [&] { velkin->deleteSnapshot(); });
	EXPECT_TRUE(QFileInfo::exists(path(QStringLiteral("Two"))));
	const auto records = answerModals([](QWidget *box) { QTest::keyClick(box, Qt::Key_Return); },
					  [&] { velkin->deleteSnapshot(); });
	ASSERT_EQ(records.size(), 1);
	EXPECT_EQ(records[0].text, localeText("ConfirmDelete").arg(QStringLiteral("Two")));
	EXPECT_EQ(records[0].defaultButton, localeText("Continue"));
	EXPECT_FALSE(QFileInfo::exists(path(QStringLiteral("Two"))));
	EXPECT_TRUE(probe(velkin).last().isEmpty());
	EXPECT_EQ(probe(velkin).snapshotOrder(), QStringList{QStringLiteral("One.json")});
	EXPECT_FALSE(probe(velkin).loadHotkeys().contains(path(QStringLiteral("Two"))));
	EXPECT_TRUE(hotkeyName(id).isEmpty()) << "the hotkey is unregistered";
	const QJsonObject saved = savedSettings();
	EXPECT_EQ(saved.value(QStringLiteral("last")).toString(), QString());
	EXPECT_FALSE(saved.value(QStringLiteral("snapshotHotkeys")).toObject().contains(QStringLiteral("Two.json")));
}

TEST_F(RenameDeleteTest, AFileThatCannotBeRemovedChangesNothing)
{
	start({QStringLiteral("Kept")});
	const obs_hotkey_id id = probe(velkin).loadHotkeys().value(path(QStringLiteral("Kept")));
	hotkeyBindingsFromJson(id, kF9);
	probe(velkin).last() = path(QStringLiteral("Kept"));
	select(QStringLiteral("Kept"));
	VELKIN_REQUIRE_FACILITY(
		QProcess::execute(QStringLiteral("chattr"), {QStringLiteral("+i"), snapshotDirectory()}) == 0,
		"chattr");
	const auto records = answerModals(inOrder({clickAccept, clickOk}), [&] { velkin->deleteSnapshot(); });
	QProcess::execute(QStringLiteral("chattr"), {QStringLiteral("-i"), snapshotDirectory()});
	ASSERT_EQ(records.size(), 2);
	EXPECT_EQ(records[1].text, localeText("DeleteFailed") + QStringLiteral("\n\n") + path(QStringLiteral("Kept")));
	EXPECT_TRUE(QFileInfo::exists(path(QStringLiteral("Kept"))));
	EXPECT_EQ(probe(velkin).last(), path(QStringLiteral("Kept")));
	EXPECT_EQ(probe(velkin).snapshotOrder(), QStringList{QStringLiteral("Kept.json")});
	EXPECT_EQ(probe(velkin).loadHotkeys().value(path(QStringLiteral("Kept"))), id);
	EXPECT_EQ(hotkeyBindingsToJson(id).size(), 1);
	EXPECT_EQ(probe(velkin).snapshotList()->count(), 1);
}

// A rename or a delete reaches every feature that holds the file, before any refresh: its rules, the layouts kept
// for undo and its picture follow a rename and let go at a delete. A rename onto the name of a file that is gone
// drops what was held of that one; what is held of any other file stays.
TEST_F(RenameDeleteTest, EveryHolderFollowsARenameAndLetsGoAtADelete)
{
	start({QStringLiteral("Live"), QStringLiteral("Other")});
	const QString live = path(QStringLiteral("Live"));
	const QString other = path(QStringLiteral("Other"));
	const struct {
		const char *what;
		QString renamedTo; // empty: a delete
		QString recordingRule;
		QString streamingRule;
		QString firstUndo;
		bool otherPictureStays;
	} cases[] = {
		{"rename", path(QStringLiteral("Show")), QStringLiteral("Show.json"), QStringLiteral("Other.json"),
		 path(QStringLiteral("Show")), true},
		{"rename onto a gone file's name", other, QStringLiteral("Other.json"), QString(), other, false},
		{"delete", QString(), QString(), QStringLiteral("Other.json"), QString(), true},
	};
	for (const auto &c : cases) {
		VelkinProbe state = probe(velkin);
		state.automation().setRule(AutomationEvent::RecordingStarted, QStringLiteral("Live.json"), true);
		state.automation().setRule(AutomationEvent::StreamingStarted, QStringLiteral("Other.json"), true);
		state.undoHistory() = {LayoutMemento{QByteArray(), QByteArray(), live},
				       LayoutMemento{QByteArray(), QByteArray(), other}};
		state.layoutsMenu().pictureHtml(live, 1);
		state.layoutsMenu().pictureHtml(other, 1);
		const auto set = [](const char *name) {
			return MonitorSet{{QLatin1String(name), {}, {}, {}, QRect(0, 0, 800, 600)}};
		};
		state.monitorSettings().layouts = {MonitorLayout{set("A"), QStringLiteral("Live.json")},
						   MonitorLayout{set("B"), QStringLiteral("Other.json")}};

		if (c.renamedTo.isEmpty()) {
			state.forgetSnapshotReferences(live);
		} else {
			state.moveSnapshotReferences(live, c.renamedTo);
		}
		EXPECT_EQ(state.automationSettings().rule(AutomationEvent::RecordingStarted), c.recordingRule)
			<< c.what;
		EXPECT_EQ(state.automationSettings().rule(AutomationEvent::StreamingStarted), c.streamingRule)
			<< c.what;
		ASSERT_EQ(state.undoHistory().size(), 2) << c.what;
		EXPECT_EQ(state.undoHistory().at(0).last, c.firstUndo) << c.what;
		EXPECT_EQ(state.undoHistory().at(1).last, other) << c.what;
		EXPECT_FALSE(state.layoutPictures().contains(live)) << c.what;
		EXPECT_EQ(state.layoutPictures().contains(other), c.otherPictureStays) << c.what;
		// The monitors' memory follows as the rules do: a set whose snapshot goes forgets it.
		QStringList remembered;
		for (const MonitorLayout &layout : std::as_const(state.monitorSettings().layouts)) {
			remembered.append(layout.snapshot);
		}
		QStringList expected{c.recordingRule, c.streamingRule};
		expected.removeAll(QString());
		EXPECT_EQ(remembered, expected) << c.what;
	}
}

TEST_F(RenameDeleteTest, DeletingTheFifthOfEightRowsLeavesTheFifthRowCurrent)
{
	QStringList names;
	for (int i = 1; i <= 8; ++i) {
		names.append(QStringLiteral("Row %1").arg(i));
	}
	start(names);
	select(QStringLiteral("Row 5"));
	probe(velkin).snapshotList()->setFocus();
	// The Delete key of the list, answered with Continue.
	answerModals(clickAccept, [&] { QTest::keyClick(probe(velkin).snapshotList(), Qt::Key_Delete); });
	EXPECT_FALSE(QFileInfo::exists(path(QStringLiteral("Row 5"))));
	EXPECT_EQ(probe(velkin).snapshotList()->currentRow(), 4);
	EXPECT_EQ(probe(velkin).snapshotList()->currentItem()->text(), QStringLiteral("Row 6"));
}

} // namespace
