#include "support/ControllerTest.hpp"
#include "support/Facility.hpp"
#include "support/Documents.hpp"
#include "support/DockWindow.hpp"
#include "support/Modal.hpp"

#include <QDesktopServices>
#include <QFileDialog>
#include <QListWidget>
#include <QUrl>

#include <sys/stat.h>

// Stands in for the desktop's file manager: records the URLs it is asked to open.
class FolderOpener : public QObject {
	Q_OBJECT
public:
	QList<QUrl> opened;
public Q_SLOTS:
	void open(const QUrl &url) { opened.append(url); }
};

namespace {

class TransferTest : public ControllerTest {
protected:
	void SetUp() override
	{
		ControllerTest::SetUp();
		addTestDocks(window, false);
		QDir().mkpath(snapshotDirectory());
		QDir().mkpath(outside());
	}

	void start(const QStringList &names)
	{
		for (const QString &name : names) {
			writeTestDocument(snapshotDirectory(), name + QStringLiteral(".json"), name);
		}
		makeController();
		standin::fireEvent(OBS_FRONTEND_EVENT_FINISHED_LOADING);
		velkin->showManagerDialog();
	}

	static QString outside() { return testhost::scratchDirectory() + QStringLiteral("/outside"); }
};

TEST_F(TransferTest, ExportThenImportComesBackOnlyWhenTheNameIsFree)
{
	start({QStringLiteral("Going Live"), QStringLiteral("Other")});
	velkin->refreshSnapshotList(path(QStringLiteral("Going Live")));
	probe(velkin).last() = path(QStringLiteral("Other"));

	// Export suggests the stored name; a name typed without a suffix gets ".json".
	const QString typed = outside() + QStringLiteral("/backup");
	auto records = answerModals(chooseFile(typed), [&] { velkin->exportSnapshot(); });
	ASSERT_EQ(records.size(), 1);
	EXPECT_EQ(QFileInfo(records[0].value).fileName(), QStringLiteral("Going Live.json"));
	EXPECT_EQ(records[0].text, QString::number(int(QFileDialog::AcceptSave)));
	EXPECT_EQ(records[0].buttons, QStringList{localeText("FileFilter")});
	const QString exported = typed + QStringLiteral(".json");
	SnapshotData data;
	ASSERT_EQ(readSnapshotFile(exported, data), SnapshotIoResult::Ok);
	EXPECT_EQ(data.name, QStringLiteral("Going Live"));

	// While the snapshot exists, importing it again is a duplicate, also from inside the snapshot folder.
	records = answerModals(inOrder({chooseFile(exported), clickOk}), [&] { velkin->importSnapshot(); });
	ASSERT_EQ(records.size(), 2);
	EXPECT_EQ(records[1].text, localeText("DuplicateName"));
	records = answerModals(inOrder({chooseFile(path(QStringLiteral("Other"))), clickOk}),
			       [&] { velkin->importSnapshot(); });
	ASSERT_EQ(records.size(), 2);
	EXPECT_EQ(records[1].text, localeText("DuplicateName"));

	// After a delete the import brings it back as the current row, but not as last.
	velkin->refreshSnapshotList(path(QStringLiteral("Going Live")));
	answerModals(clickAccept, [&] { velkin->deleteSnapshot(); });
	records = answerModals(chooseFile(exported), [&] { velkin->importSnapshot(); });
	ASSERT_EQ(records.size(), 1);
	EXPECT_EQ(records[0].text, QString::number(int(QFileDialog::AcceptOpen)));
	EXPECT_TRUE(QFileInfo::exists(path(QStringLiteral("Going Live"))));
	EXPECT_EQ(probe(velkin).selectedSnapshotPath(), path(QStringLiteral("Going Live")));
	EXPECT_EQ(probe(velkin).last(), path(QStringLiteral("Other")));
	EXPECT_TRUE(QFileInfo::exists(exported)) << "the source stays where it is";
}

TEST_F(TransferTest, ImportRefusesWhatIsNotASnapshot)
{
	start({QStringLiteral("One")});
	const QString fake = writeTestBytes(outside() + QStringLiteral("/looks like one.json"), "{\"name\": \"x\"}");
	auto records = answerModals(inOrder({chooseFile(fake), clickOk}), [&] { velkin->importSnapshot(); });
	ASSERT_EQ(records.size(), 2);
	EXPECT_EQ(records[1].text, localeText("ReadFailed") + QStringLiteral("\n\n") + fake);

	// A FIFO is refused at once instead of blocking on a read.
	const QString fifo = outside() + QStringLiteral("/pipe.json");
	ASSERT_EQ(mkfifo(fifo.toUtf8().constData(), 0600), 0);
	records = answerModals(inOrder({chooseFile(fifo), clickOk}), [&] { velkin->importSnapshot(); });
	ASSERT_EQ(records.size(), 2);
	EXPECT_EQ(records[1].text, localeText("ReadFailed") + QStringLiteral("\n\n") + fifo);
	EXPECT_EQ(QDir(snapshotDirectory()).entryList(QDir::Files), QStringList{QStringLiteral("One.json")});
}

TEST_F(TransferTest, ImportAtTheLimitStopsBeforeTheDialog)
{
	for (int i = 0; i < 1000; ++i) {
		writeTestDocument(snapshotDirectory(), QStringLiteral("S%1.json").arg(i), QStringLiteral("S%1").arg(i));
	}
	start({});
	const auto records = answerModals(clickOk, [&] { velkin->importSnapshot(); });
	ASSERT_EQ(records.size(), 1);
	EXPECT_FALSE(records[0].isPrompt);
	EXPECT_EQ(records[0].text, localeText("SnapshotLimit"));
}

TEST_F(TransferTest, CancelledOrFailedExportChangesNothing)
{
	start({QStringLiteral("One")});
	velkin->refreshSnapshotList(path(QStringLiteral("One")));
	const QByteArray settings = readTestBytes(settingsPath());
	answerModals(clickReject, [&] { velkin->exportSnapshot(); });
	// A parent path that is a file: the write fails and says where.
	const QString blocked = writeTestBytes(outside() + QStringLiteral("/file"), "x") + QStringLiteral("/One.json");
	const auto records = answerModals(inOrder({chooseFile(blocked), clickOk}), [&] { velkin->exportSnapshot(); });
	ASSERT_EQ(records.size(), 2);
	EXPECT_EQ(records[1].text, localeText("WriteFailed") + QStringLiteral("\n\n") + blocked);
	EXPECT_EQ(readTestBytes(settingsPath()), settings);
	EXPECT_TRUE(probe(velkin).last().isEmpty());
}

TEST_F(TransferTest, OpenFolderCreatesTheFolderAndReportsARefusal)
{
	start({});
	QDir(snapshotDirectory()).removeRecursively();
	FolderOpener opener;
	QDesktopServices::setUrlHandler(QStringLiteral("file"), &opener, "open");
	velkin->openSnapshotFolder();
	QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
	ASSERT_EQ(opener.opened.size(), 1);
	EXPECT_EQ(opener.opened.first(), QUrl::fromLocalFile(snapshotDirectory()));
	EXPECT_TRUE(QFileInfo(snapshotDirectory()).isDir());

	// Without the handler, a desktop's file manager may open the folder. The test command's root has none, so
	// there a missing error box is a fault.
	const auto records = answerModals(clickOk, [&] { velkin->openSnapshotFolder(); });
	if (records.isEmpty()) {
		if (facilitiesRequired()) {
			FAIL() << "no error box, and no program opens folders under the test command";
		}
		GTEST_SKIP() << "this machine has a desktop that opens folders";
	}
	EXPECT_EQ(records[0].text, localeText("OpenFolderFailed") + QStringLiteral("\n\n") + snapshotDirectory());
}

} // namespace

#include "TransferTest.moc"
