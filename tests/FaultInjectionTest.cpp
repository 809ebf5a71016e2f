#include "support/Facility.hpp"
#include "support/ControllerTest.hpp"
#include "support/Documents.hpp"
#include "support/SmallDisk.hpp"
#include "support/DockWindow.hpp"
#include "support/Modal.hpp"

#include <QJsonDocument>
#include <QJsonObject>
#include <QListWidget>

#include <map>
#include <sys/stat.h>

namespace {

class FaultInjectionTest : public ControllerTest {
protected:
	void SetUp() override
	{
		ControllerTest::SetUp();
		addTestDocks(window, false);
	}

	void start()
	{
		makeController();
		standin::fireEvent(OBS_FRONTEND_EVENT_FINISHED_LOADING);
		velkin->showManagerDialog();
	}

	// Every file below the folder with its bytes, to compare before and after.
	static std::map<QString, QByteArray> filesIn(const QString &folder)
	{
		std::map<QString, QByteArray> files;
		for (const QFileInfo &info : QDir(folder).entryInfoList(QDir::Files | QDir::Hidden)) {
			files[info.fileName()] = readTestBytes(info.absoluteFilePath());
		}
		return files;
	}

	static QStringList reportTexts(const QList<ModalRecord> &records)
	{
		QStringList texts;
		for (const ModalRecord &record : records) {
			if (record.icon == QMessageBox::Warning) {
				texts.append(record.text);
			}
		}
		return texts;
	}

	static QString report(const char *key, const QString &detail)
	{
		return localeText(key) + QStringLiteral("\n\n") + detail;
	}
};

TEST_F(FaultInjectionTest, AFullDiskLosesNothingOnAnyWritePath)
{
	// The module's whole configuration folder on a small tmpfs, in the private mount namespace of the tests.
	QDir().mkpath(moduleConfigDirectory());
	const SmallDisk disk(moduleConfigDirectory(), "96k");
	VELKIN_REQUIRE_FACILITY(disk.mounted, "a tmpfs mount");
	QDir().mkpath(snapshotDirectory());
	addLayoutSnapshots({QStringLiteral("Live"), QStringLiteral("Talk")});
	start();
	{
		QFile filler(moduleConfigDirectory() + QStringLiteral("/filler"));
		ASSERT_TRUE(filler.open(QIODevice::WriteOnly));
		const QByteArray block(512, 'f');
		while (filler.write(block) == block.size() && filler.flush()) {
		}
	}
	const auto snapshotsBefore = filesIn(snapshotDirectory());
	const QByteArray settingsBefore = readTestBytes(settingsPath());

	auto records = answerModals(inOrder({typeName(QStringLiteral("New one")), clickOk}),
				    [&] { velkin->saveNewSnapshot(); });
	EXPECT_EQ(reportTexts(records), QStringList{report("WriteFailed", path(QStringLiteral("New one")))});
	velkin->refreshSnapshotList(path(QStringLiteral("Live")));
	records = answerModals(inOrder({clickAccept, clickOk}), [&] { velkin->overwriteSnapshot(); });
	EXPECT_EQ(reportTexts(records), QStringList{report("WriteFailed", path(QStringLiteral("Live")))});
	// Rename moves the file first; the failed write moves it back.
	records = answerModals(inOrder({typeName(QStringLiteral("Renamed")), clickOk}),
			       [&] { velkin->renameSnapshot(); });
	EXPECT_EQ(reportTexts(records), QStringList{report("WriteFailed", path(QStringLiteral("Renamed")))});
	const QString exported = moduleConfigDirectory() + QStringLiteral("/exported.json");
	records = answerModals(inOrder({chooseFile(exported), clickOk}), [&] { velkin->exportSnapshot(); });
	EXPECT_EQ(reportTexts(records), QStringList{report("WriteFailed", exported)});
	velkin->saveSettings();
	EXPECT_EQ(testhost::logLines().filter(QStringLiteral("[obs-velkin] Could not save settings: ")).size(), 1);

	EXPECT_EQ(filesIn(snapshotDirectory()), snapshotsBefore);
	EXPECT_EQ(readTestBytes(settingsPath()), settingsBefore);
	EXPECT_EQ(probe(velkin).snapshotOrder(),
		  (QStringList{QStringLiteral("Live.json"), QStringLiteral("Talk.json")}));
}

TEST_F(FaultInjectionTest, AListedFileThatVanishedOrWasReplacedIsReportedNeverRead)
{
	QDir().mkpath(snapshotDirectory());
	const QStringList names{QStringLiteral("Gone"),     QStringLiteral("Folder"), QStringLiteral("Pipe"),
				QStringLiteral("Dangling"), QStringLiteral("Loop"),   QStringLiteral("Kept")};
	addLayoutSnapshots(names);
	start();
	ASSERT_EQ(probe(velkin).snapshotList()->count(), names.size());

	// Behind the catalogue's back, after the list was made.
	QFile::remove(path(QStringLiteral("Gone")));
	QFile::remove(path(QStringLiteral("Folder")));
	QDir().mkdir(path(QStringLiteral("Folder")));
	QFile::remove(path(QStringLiteral("Pipe")));
	ASSERT_EQ(mkfifo(path(QStringLiteral("Pipe")).toUtf8().constData(), 0600), 0);
	QFile::remove(path(QStringLiteral("Dangling")));
	ASSERT_TRUE(QFile::link(path(QStringLiteral("nowhere")), path(QStringLiteral("Dangling"))));
	QFile::remove(path(QStringLiteral("Loop")));
	ASSERT_TRUE(QFile::link(path(QStringLiteral("Loop")), path(QStringLiteral("Loop"))));
	const QByteArray kept = readTestBytes(path(QStringLiteral("Kept")));

	for (const QString &name : names.mid(0, 5)) {
		const auto records = answerModals(clickOk, [&] { velkin->loadSnapshot(path(name)); });
		EXPECT_EQ(reportTexts(records), QStringList{report("ReadFailed", path(name))}) << name.toStdString();
	}
	EXPECT_TRUE(probe(velkin).last().isEmpty());
	EXPECT_EQ(readTestBytes(path(QStringLiteral("Kept"))), kept);
	// The next refresh drops them all but the one that is still a snapshot.
	velkin->refreshSnapshotList(QString());
	EXPECT_EQ(probe(velkin).snapshotOrder(), QStringList{QStringLiteral("Kept.json")});
}

} // namespace
