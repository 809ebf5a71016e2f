#include "store/SnapshotCatalogue.hpp"
#include "support/ControllerTest.hpp"
#include "support/Documents.hpp"

#include <QListWidget>
#include <QScrollBar>
#include <QTemporaryDir>

#include <functional>

namespace {

QStringList names(const QList<SnapshotEntry> &entries)
{
	QStringList result;
	for (const SnapshotEntry &entry : entries) {
		result.append(entry.name);
	}
	return result;
}

QStringList fileNames(const QList<SnapshotEntry> &entries)
{
	QStringList result;
	for (const SnapshotEntry &entry : entries) {
		result.append(entry.fileName);
	}
	return result;
}

QStringList itemTexts(const QListWidget &list)
{
	QStringList result;
	for (int row = 0; row < list.count(); ++row) {
		result.append(list.item(row)->text());
	}
	return result;
}

class CatalogueTest : public ControllerTest {
protected:
	void SetUp() override
	{
		ControllerTest::SetUp();
		dir = snapshotDirectory();
		QDir().mkpath(dir);
	}

	void addThree()
	{
		writeTestDocument(dir, QStringLiteral("b.json"), QStringLiteral("Beta"));
		writeTestDocument(dir, QStringLiteral("a.json"), QStringLiteral("alpha"));
		writeTestDocument(dir, QStringLiteral("c.json"), QStringLiteral("Gamma"));
	}

	QString dir;
};

TEST_F(CatalogueTest, OrderIsSavedOrderFirstThenLocaleAwareByName)
{
	addThree();
	EXPECT_EQ(names(scanSnapshots(dir, {})),
		  (QStringList{QStringLiteral("alpha"), QStringLiteral("Beta"), QStringLiteral("Gamma")}));
	const QStringList order{QStringLiteral("c.json"), QStringLiteral("x.json"), QStringLiteral("c.json")};
	const QList<SnapshotEntry> entries = scanSnapshots(dir, order);
	EXPECT_EQ(names(entries),
		  (QStringList{QStringLiteral("Gamma"), QStringLiteral("alpha"), QStringLiteral("Beta")}));
	EXPECT_EQ(fileNames(entries),
		  (QStringList{QStringLiteral("c.json"), QStringLiteral("a.json"), QStringLiteral("b.json")}));

	// Equal display names keep their file-name order.
	writeTestDocument(dir, QStringLiteral("z-same.json"), QStringLiteral("Same"));
	writeTestDocument(dir, QStringLiteral("m-same.json"), QStringLiteral("Same"));
	EXPECT_EQ(fileNames(scanSnapshots(dir, {})).mid(3),
		  (QStringList{QStringLiteral("m-same.json"), QStringLiteral("z-same.json")}));
}

TEST_F(CatalogueTest, OnlyReadableJsonFilesAreListedAndBrokenOnesCounted)
{
	writeTestDocument(dir, QStringLiteral("UPPER.JSON"), QStringLiteral("Upper"));
	writeTestDocument(dir, QStringLiteral(".hidden.json"), QStringLiteral("Hidden"));
	writeTestBytes(QDir(dir).filePath(QStringLiteral("notes.txt")), "text");
	writeTestBytes(QDir(dir).filePath(QStringLiteral("broken.json")), "{ not json");
	QDir(dir).mkdir(QStringLiteral("d.json"));
	int unreadable = -1;
	int overflow = -1;
	const QList<SnapshotEntry> entries = scanSnapshots(dir, {}, &unreadable, &overflow);
	EXPECT_EQ(names(entries), (QStringList{QStringLiteral("Hidden"), QStringLiteral("Upper")}));
	EXPECT_EQ(unreadable, 1);
	EXPECT_EQ(overflow, 0);

	Velkin *velkin = makeController();
	velkin->refreshSnapshotList(QString());
	EXPECT_EQ(testhost::countLogLines(QStringLiteral("[obs-velkin] Skipped 1 unreadable snapshot file(s)")), 1);
	EXPECT_EQ(testhost::pluginLogLines().size(), 1);
	EXPECT_EQ(probe(velkin).snapshotOrder(),
		  (QStringList{QStringLiteral(".hidden.json"), QStringLiteral("UPPER.JSON")}));
	EXPECT_EQ(readTestBytes(QDir(dir).filePath(QStringLiteral("broken.json"))), QByteArray("{ not json"));
}

TEST_F(CatalogueTest, MissingOrEmptyDirectoryGivesEmptyCatalogueQuietly)
{
	Velkin *velkin = makeController();
	probe(velkin).snapshotOrder() = {QStringLiteral("gone.json")};
	velkin->refreshSnapshotList(QString());
	EXPECT_TRUE(probe(velkin).snapshotOrder().isEmpty());
	probe(velkin).snapshotDirectory() = dir + QStringLiteral("/missing");
	velkin->refreshSnapshotList(QString());
	EXPECT_TRUE(probe(velkin).snapshotOrder().isEmpty());
	EXPECT_TRUE(testhost::pluginLogLines().isEmpty());
}

TEST_F(CatalogueTest, BeyondTheLimitFilesStayOnDiskAndAreLogged)
{
	for (int i = 0; i < 1003; ++i) {
		ASSERT_FALSE(writeTestDocument(dir, QStringLiteral("s%1.json").arg(i, 4, 10, QLatin1Char('0')),
					       QStringLiteral("Snapshot %1").arg(i, 4, 10, QLatin1Char('0')))
				     .isEmpty());
	}
	Velkin *velkin = makeController();
	velkin->refreshSnapshotList(QString());
	EXPECT_EQ(probe(velkin).snapshotOrder().size(), 1000);
	EXPECT_EQ(probe(velkin).snapshotOrder().first(), QStringLiteral("s0000.json"));
	EXPECT_EQ(probe(velkin).snapshotOrder().last(), QStringLiteral("s0999.json"));
	EXPECT_EQ(testhost::countLogLines(QStringLiteral(
			  "[obs-velkin] 3 snapshot file(s) exceed the 1000-snapshot limit; files remain on disk")),
		  1);
	EXPECT_EQ(QDir(dir).entryList(QDir::Files).size(), 1003);
}

TEST_F(CatalogueTest, ARuleGoesOnlyWhenItsFileIsGoneFromTheFolder)
{
	const struct {
		const char *what;
		std::function<void(const QString &file)> change;
		bool ruleStays;
	} cases[] = {
		{"a file that is being rewritten",
		 [](const QString &file) { writeTestBytes(file, "{\"format\": 1, \"na"); }, true},
		{"a file of a newer format",
		 [](const QString &file) {
			 QByteArray bytes = readTestBytes(file);
			 writeTestBytes(file, bytes.replace("\"format\": 1", "\"format\": 2"));
		 },
		 true},
		{"a folder that cannot be listed",
		 [this](const QString &) { QDir(dir).rename(dir, dir + QStringLiteral(".away")); }, true},
		{"a file that is gone", [](const QString &file) { QFile::remove(file); }, false},
	};
	for (const auto &c : cases) {
		QDir(dir + QStringLiteral(".away")).removeRecursively();
		QDir(dir).removeRecursively();
		QDir().mkpath(dir);
		const QString file = writeTestDocument(dir, QStringLiteral("Live.json"), QStringLiteral("Live"));
		Velkin *velkin = makeController();
		velkin->refreshSnapshotList(QString());
		probe(velkin).automation().setRule(AutomationEvent::RecordingStarted, QStringLiteral("Live.json"),
						   true);
		c.change(file);
		velkin->refreshSnapshotList(QString());
		EXPECT_EQ(probe(velkin).automationSettings().rule(AutomationEvent::RecordingStarted).isEmpty(),
			  !c.ruleStays)
			<< c.what;
		delete velkin;
	}
}

TEST_F(CatalogueTest, RefreshRebuildsOrderAndListItems)
{
	addThree();
	Velkin *velkin = makeController();
	QListWidget list;
	probe(velkin).snapshotList() = &list;
	probe(velkin).snapshotOrder() = {QStringLiteral("c.json"), QStringLiteral("gone.json"),
					 QStringLiteral("c.json")};
	velkin->refreshSnapshotList(QString());
	EXPECT_EQ(probe(velkin).snapshotOrder(),
		  (QStringList{QStringLiteral("c.json"), QStringLiteral("a.json"), QStringLiteral("b.json")}));
	EXPECT_EQ(itemTexts(list),
		  (QStringList{QStringLiteral("Gamma"), QStringLiteral("alpha"), QStringLiteral("Beta")}));
	EXPECT_EQ(list.currentRow(), 0);

	const QListWidgetItem *item = list.item(1);
	const QString path = QDir(dir).absoluteFilePath(QStringLiteral("a.json"));
	const QDateTime modified = QFileInfo(path).fileTime(QFileDevice::FileModificationTime).toLocalTime();
	EXPECT_EQ(item->data(Qt::UserRole).toString(), path);
	EXPECT_EQ(item->data(Qt::UserRole + 1).toString(), modified.toString(QStringLiteral("yyyy-MM-dd HH:mm")));
	const QStringList tip = item->toolTip().split(QLatin1Char('\n'));
	ASSERT_EQ(tip.size(), 3);
	EXPECT_EQ(tip[0], QStringLiteral("alpha"));
	EXPECT_EQ(tip[1], localeText("Modified").arg(modified.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))));
	EXPECT_EQ(tip[2], path);

	// A target path makes that snapshot current; one that is not listed keeps the row.
	velkin->refreshSnapshotList(QDir(dir).absoluteFilePath(QStringLiteral("b.json")));
	EXPECT_EQ(list.currentRow(), 2);
	EXPECT_EQ(probe(velkin).selectedSnapshotPath(), QDir(dir).absoluteFilePath(QStringLiteral("b.json")));
	velkin->refreshSnapshotList(QDir(dir).absoluteFilePath(QStringLiteral("nothing.json")));
	EXPECT_EQ(list.currentRow(), 2);
}

TEST_F(CatalogueTest, DeletedCurrentSnapshotPassesSelectionToItsRow)
{
	for (int i = 1; i <= 8; ++i) {
		writeTestDocument(dir, QStringLiteral("%1.json").arg(i), QStringLiteral("Row %1").arg(i));
	}
	Velkin *velkin = makeController();
	QListWidget list;
	probe(velkin).snapshotList() = &list;
	velkin->refreshSnapshotList(QString());
	list.setCurrentRow(4);
	QFile::remove(QDir(dir).filePath(QStringLiteral("5.json")));
	velkin->refreshSnapshotList(QString());
	EXPECT_EQ(list.currentRow(), 4);
	EXPECT_EQ(list.currentItem()->text(), QStringLiteral("Row 6"));

	list.setCurrentRow(list.count() - 1);
	QFile::remove(QDir(dir).filePath(QStringLiteral("8.json")));
	velkin->refreshSnapshotList(QString());
	EXPECT_EQ(list.currentRow(), list.count() - 1);
	EXPECT_EQ(list.currentItem()->text(), QStringLiteral("Row 7"));
}

TEST_F(CatalogueTest, RefreshKeepsTheTopRowWhereItWas)
{
	for (int i = 0; i < 40; ++i) {
		writeTestDocument(dir, QStringLiteral("%1.json").arg(i, 2, 10, QLatin1Char('0')),
				  QStringLiteral("Row %1").arg(i, 2, 10, QLatin1Char('0')));
	}
	Velkin *velkin = makeController();
	QListWidget list;
	list.resize(200, 150);
	list.show();
	probe(velkin).snapshotList() = &list;
	velkin->refreshSnapshotList(QString());

	list.setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
	const int rowHeight = list.visualItemRect(list.item(0)).height();
	ASSERT_GT(rowHeight, 4);
	list.verticalScrollBar()->setValue(rowHeight * 10 + rowHeight / 2);
	QListWidgetItem *top = list.itemAt(1, 1);
	const QString topText = top->text();
	const int topOffset = list.visualItemRect(top).top();
	ASSERT_LT(topOffset, 0) << "the top row is half hidden";
	QFile::remove(QDir(dir).filePath(QStringLiteral("00.json")));
	velkin->refreshSnapshotList(QString());
	EXPECT_EQ(list.itemAt(1, 1)->text(), topText);
	EXPECT_EQ(list.visualItemRect(list.itemAt(1, 1)).top(), topOffset);

	list.setVerticalScrollMode(QAbstractItemView::ScrollPerItem);
	list.scrollToItem(list.item(7), QAbstractItemView::PositionAtTop);
	const QString perItemTop = list.itemAt(1, 1)->text();
	QFile::remove(QDir(dir).filePath(QStringLiteral("01.json")));
	velkin->refreshSnapshotList(QString());
	EXPECT_EQ(list.itemAt(1, 1)->text(), perItemTop);
}

} // namespace
