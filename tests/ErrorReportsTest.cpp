#include "base/Log.hpp"
#include "support/ControllerTest.hpp"
#include "support/Documents.hpp"
#include "support/Modal.hpp"

#include <QDialog>
#include <QFile>

namespace {

using ErrorReportsTest = ControllerTest;

TEST_F(ErrorReportsTest, ReportLogsTheKeyAndShowsTheTextWithItsDetail)
{
	Velkin *velkin = makeController();
	auto records = answerModals(clickOk, [&] { probe(velkin).reportError("SnapshotLimit", QString()); });
	ASSERT_EQ(records.size(), 1);
	EXPECT_EQ(records[0].text, localeText("SnapshotLimit"));
	EXPECT_EQ(records[0].title, localeText("Title"));
	EXPECT_EQ(records[0].icon, QMessageBox::Warning);
	EXPECT_EQ(records[0].parent, window.data());
	EXPECT_EQ(records[0].buttons.size(), 1);
	EXPECT_TRUE(records[0].flags.testFlag(Qt::MSWindowsFixedSizeDialogHint));
	EXPECT_EQ(testhost::countLogLines(QStringLiteral("[obs-velkin] SnapshotLimit: ")), 1);

	QDialog dialog(window);
	probe(velkin).managerDialog() = &dialog;
	const QString detail = QStringLiteral("/tmp/<b>bold</b> & co.json");
	records = answerModals(clickOk, [&] { probe(velkin).reportError("ReadFailed", detail); });
	ASSERT_EQ(records.size(), 1);
	EXPECT_EQ(records[0].text, localeText("ReadFailed") + QStringLiteral("\n\n") + detail);
	EXPECT_EQ(records[0].textFormat, Qt::PlainText);
	EXPECT_EQ(records[0].parent, &dialog);
	EXPECT_EQ(testhost::countLogLines(QStringLiteral("[obs-velkin] ReadFailed: ") + detail), 1);
	EXPECT_TRUE(window->findChildren<QMessageBox *>().isEmpty()) << "the box is deleted after use";
}

TEST_F(ErrorReportsTest, ConfirmationAnswersOnlyContinueWithTrue)
{
	Velkin *velkin = makeController();
	bool answer = false;
	auto records =
		answerModals(clickAccept, [&] { answer = probe(velkin).confirmAction(QStringLiteral("Go?"), false); });
	EXPECT_TRUE(answer);
	ASSERT_EQ(records.size(), 1);
	EXPECT_EQ(records[0].parent, nullptr) << "without the dialog the question has no parent";
	EXPECT_EQ(records[0].icon, QMessageBox::Question);
	EXPECT_EQ(records[0].buttons, (QStringList{localeText("Continue"), localeText("Cancel")}));
	EXPECT_EQ(records[0].defaultButton, localeText("Cancel"));
	EXPECT_EQ(records[0].textFormat, Qt::PlainText);

	answerModals(clickReject, [&] { answer = probe(velkin).confirmAction(QStringLiteral("Go?"), true); });
	EXPECT_FALSE(answer);
	// Escape cancels even when Continue is the default button.
	records = answerModals(pressEscape, [&] { answer = probe(velkin).confirmAction(QStringLiteral("Go?"), true); });
	EXPECT_FALSE(answer);
	EXPECT_EQ(records[0].defaultButton, localeText("Continue"));
	answerModals([](QWidget *box) { box->close(); },
		     [&] { answer = probe(velkin).confirmAction(QStringLiteral("Go?"), true); });
	EXPECT_FALSE(answer);

	QDialog dialog(window);
	probe(velkin).managerDialog() = &dialog;
	records = answerModals(clickAccept, [&] { probe(velkin).confirmAction(QStringLiteral("Go?"), true); });
	EXPECT_EQ(records[0].parent, &dialog);
}

TEST_F(ErrorReportsTest, AfterShutdownReportsOnlyLogAndAnswersAreCancel)
{
	Velkin *velkin = makeController();
	bool answer = true;
	// The host shuts the controller down while the question is open; Continue then counts as Cancel.
	answerModals(
		[&](QWidget *box) {
			velkin->shutdown();
			clickAccept(box);
		},
		[&] { answer = probe(velkin).confirmAction(QStringLiteral("Go?"), true); });
	EXPECT_FALSE(answer);

	const auto records =
		answerModals(clickOk, [&] { probe(velkin).reportError("WriteFailed", QStringLiteral("/x")); });
	EXPECT_TRUE(records.isEmpty());
	EXPECT_EQ(testhost::countLogLines(QStringLiteral("[obs-velkin] WriteFailed: /x")), 1);
}

TEST_F(ErrorReportsTest, ParentDestroyedWhileTheBoxRunsIsNotTouchedAgain)
{
	Velkin *velkin = makeController();
	auto *dialog = new QDialog(window);
	probe(velkin).managerDialog() = dialog;
	bool answer = true;
	answerModals([&](QWidget *) { delete dialog; },
		     [&] { answer = probe(velkin).confirmAction(QStringLiteral("Go?"), true); });
	EXPECT_FALSE(answer);
	probe(velkin).managerDialog() = dialog = new QDialog(window);
	answerModals([&](QWidget *) { delete dialog; }, [&] { probe(velkin).reportError("DeleteFailed", QString()); });
	EXPECT_EQ(testhost::countLogLines(QStringLiteral("[obs-velkin] DeleteFailed: ")), 1);
}

TEST_F(ErrorReportsTest, SnapshotLimitAllowsNineHundredNinetyNine)
{
	Velkin *velkin = makeController();
	QDir().mkpath(snapshotDirectory());
	for (int i = 0; i < 999; ++i) {
		ASSERT_FALSE(writeTestDocument(snapshotDirectory(), QStringLiteral("%1.json").arg(i),
					       QStringLiteral("S%1").arg(i))
				     .isEmpty());
	}
	auto records = answerModals(clickOk, [&] { EXPECT_TRUE(probe(velkin).checkSnapshotLimit()); });
	EXPECT_TRUE(records.isEmpty());
	writeTestDocument(snapshotDirectory(), QStringLiteral("999.json"), QStringLiteral("S999"));
	records = answerModals(clickOk, [&] { EXPECT_FALSE(probe(velkin).checkSnapshotLimit()); });
	ASSERT_EQ(records.size(), 1);
	EXPECT_EQ(records[0].text, localeText("SnapshotLimit"));
}

TEST_F(ErrorReportsTest, DirectoryThatCannotBeCreatedKeepsTheModuleInactiveUntilARetryWorks)
{
	Velkin *velkin = makeController();
	// A file where the module's configuration directory should be: nothing can be created below it.
	QDir().mkpath(testhost::configDirectory());
	ASSERT_FALSE(writeTestBytes(moduleConfigDirectory(), "in the way").isEmpty());
	auto records = answerModals(clickOk, [&] { standin::fireEvent(OBS_FRONTEND_EVENT_FINISHED_LOADING); });
	ASSERT_EQ(records.size(), 1);
	EXPECT_EQ(records[0].text, localeText("DirectoryFailed"));
	EXPECT_EQ(testhost::countLogLines(QStringLiteral("[obs-velkin] DirectoryFailed: ")), 1);
	EXPECT_FALSE(probe(velkin).ready());
	EXPECT_TRUE(probe(velkin).toolsMenuAction().isNull());

	ASSERT_TRUE(QFile::remove(moduleConfigDirectory()));
	records = answerModals(clickOk, [&] { standin::fireEvent(OBS_FRONTEND_EVENT_FINISHED_LOADING); });
	EXPECT_TRUE(records.isEmpty());
	EXPECT_TRUE(probe(velkin).ready());
	EXPECT_TRUE(QFileInfo(snapshotDirectory()).isDir());
	EXPECT_TRUE(QFileInfo::exists(settingsPath()));

	// Without configuration paths from the host, the directory is never created.
	probe(velkin).settingsPath().clear();
	records = answerModals(clickOk, [&] { EXPECT_FALSE(probe(velkin).ensureSnapshotDirectory()); });
	EXPECT_EQ(records.size(), 1);
}

} // namespace
