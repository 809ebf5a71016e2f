#include "store/SnapshotFolder.hpp"
#include "store/SnapshotNames.hpp"
#include "support/Documents.hpp"
#include "support/TestHost.hpp"

#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

const char *resultName(NameCheckResult result)
{
	switch (result) {
	case NameCheckResult::NameAccepted:
		return "NameAccepted";
	case NameCheckResult::NameInvalid:
		return "NameInvalid";
	case NameCheckResult::NameDuplicate:
		return "NameDuplicate";
	}
	return "?";
}

TEST(SnapshotNames, FormRules)
{
	QTemporaryDir empty;
	const struct {
		QString name;
		NameCheckResult expected;
	} cases[] = {
		{QString(), NameCheckResult::NameInvalid},
		{QString(80, u'n'), NameCheckResult::NameAccepted},
		{QString(81, u'n'), NameCheckResult::NameInvalid},
		{QStringLiteral(" Live"), NameCheckResult::NameInvalid},
		{QStringLiteral("Live "), NameCheckResult::NameInvalid},
		{QStringLiteral("Live\u00a0"), NameCheckResult::NameInvalid},
		{QStringLiteral("Going  Live"), NameCheckResult::NameAccepted},
		{QStringLiteral("Live."), NameCheckResult::NameInvalid},
		{QStringLiteral(".hidden"), NameCheckResult::NameAccepted},
		{QStringLiteral("Stream 2.1 backup"), NameCheckResult::NameAccepted},
		{QStringLiteral("Tab\there"), NameCheckResult::NameInvalid},
		{QStringLiteral("Line\nfeed"), NameCheckResult::NameInvalid},
		{QStringLiteral("Null\u0000byte"), NameCheckResult::NameInvalid},
		{QStringLiteral("Delete\u007fkept"), NameCheckResult::NameAccepted},
		{QStringLiteral("B\u00fchne \u914d\u4fe1"), NameCheckResult::NameAccepted},
		{QStringLiteral("con"), NameCheckResult::NameInvalid},
		{QStringLiteral("Con.backup"), NameCheckResult::NameInvalid},
		{QStringLiteral("NUL"), NameCheckResult::NameInvalid},
		{QStringLiteral("conout$"), NameCheckResult::NameInvalid},
		{QStringLiteral("CONIN$"), NameCheckResult::NameInvalid},
		{QStringLiteral("aux .x"), NameCheckResult::NameInvalid},
		{QStringLiteral("prn.json"), NameCheckResult::NameInvalid},
		{QStringLiteral("CONSOLE"), NameCheckResult::NameAccepted},
		{QStringLiteral("NULL"), NameCheckResult::NameAccepted},
		{QStringLiteral("AUXILIARY"), NameCheckResult::NameAccepted},
		{QStringLiteral("COM1"), NameCheckResult::NameInvalid},
		{QStringLiteral("lpt9"), NameCheckResult::NameInvalid},
		{QStringLiteral("COM\u00b9"), NameCheckResult::NameInvalid},
		{QStringLiteral("lpt\u00b3"), NameCheckResult::NameInvalid},
		{QStringLiteral("com3.old"), NameCheckResult::NameInvalid},
		{QStringLiteral("COM0"), NameCheckResult::NameAccepted},
		{QStringLiteral("LPT10"), NameCheckResult::NameAccepted},
		{QStringLiteral("COM"), NameCheckResult::NameAccepted},
		{QStringLiteral("LPTX"), NameCheckResult::NameAccepted},
	};
	for (const auto &c : cases) {
		EXPECT_STREQ(resultName(validateSnapshotName(empty.path(), c.name, QString())), resultName(c.expected))
			<< c.name.toStdString();
	}
	for (const QChar forbidden : QStringLiteral("<>:\"/\\|?*")) {
		const QString name = QStringLiteral("a") + forbidden + QStringLiteral("b");
		EXPECT_EQ(validateSnapshotName(empty.path(), name, QString()), NameCheckResult::NameInvalid)
			<< name.toStdString();
	}
	// A missing directory lists nothing: the name is free.
	EXPECT_EQ(validateSnapshotName(empty.filePath(QStringLiteral("missing")), QStringLiteral("Free"), QString()),
		  NameCheckResult::NameAccepted);
}

TEST(SnapshotNames, DuplicatesByFileNameOrStoredName)
{
	QTemporaryDir dir;
	const QString d = dir.path();
	ASSERT_FALSE(writeTestDocument(d, QStringLiteral("Scene A.json"), QStringLiteral("Scene A")).isEmpty());
	ASSERT_FALSE(writeTestDocument(d, QStringLiteral("Upper.JSON"), QStringLiteral("Upper")).isEmpty());
	ASSERT_FALSE(writeTestDocument(d, QStringLiteral("old.json"), QStringLiteral("Streaming")).isEmpty());
	ASSERT_FALSE(writeTestDocument(d, QStringLiteral("x.json"), QStringLiteral("Caf\u00e9")).isEmpty());
	const QString intro = writeTestDocument(d, QStringLiteral("intro.json"), QStringLiteral("intro"));
	ASSERT_TRUE(QDir(d).mkdir(QStringLiteral("Talk.json")));
	ASSERT_FALSE(writeTestBytes(QDir(d).filePath(QStringLiteral("Mixer.json.bak")), "x").isEmpty());
	ASSERT_FALSE(writeTestBytes(QDir(d).filePath(QStringLiteral("notes.txt")), "Notes").isEmpty());

	const auto check = [&](const QString &name, const QString &excluded = QString()) {
		return resultName(validateSnapshotName(d, name, excluded));
	};
	EXPECT_STREQ(check(QStringLiteral("scene a")), "NameDuplicate");
	EXPECT_STREQ(check(QStringLiteral("upper")), "NameDuplicate");
	EXPECT_STREQ(check(QStringLiteral("STREAMING")), "NameDuplicate");
	EXPECT_STREQ(check(QStringLiteral("Cafe\u0301")), "NameDuplicate");
	EXPECT_STREQ(check(QStringLiteral("talk")), "NameDuplicate");
	EXPECT_STREQ(check(QStringLiteral("Mixer")), "NameAccepted");
	EXPECT_STREQ(check(QStringLiteral("notes")), "NameAccepted");
	EXPECT_STREQ(check(QStringLiteral("Intro")), "NameDuplicate");
	// A snapshot is never a duplicate of itself.
	EXPECT_STREQ(check(QStringLiteral("Intro"), intro), "NameAccepted");
	EXPECT_STREQ(check(QStringLiteral("Streaming"), QDir(d).filePath(QStringLiteral("old.json"))), "NameAccepted");
}

TEST(SnapshotNames, UnreadableFilesDoNotCount)
{
	QTemporaryDir dir;
	ASSERT_FALSE(writeTestBytes(dir.filePath(QStringLiteral("old.json")), "{\"name\": \"Streaming\"").isEmpty());
	EXPECT_EQ(validateSnapshotName(dir.path(), QStringLiteral("STREAMING"), QString()),
		  NameCheckResult::NameAccepted);
	EXPECT_EQ(validateSnapshotName(dir.path(), QStringLiteral("Old"), QString()), NameCheckResult::NameDuplicate);
}

TEST(SnapshotNames, ANewSnapshotNeverTakesAFileThatTheDiskHasUnderItsName)
{
	// Save New, Import and the remote save check the name against a look taken a moment earlier. A file can come
	// in meanwhile (a sync client), and a disk that ignores letter case can hold the name under a spelling that
	// case folding keeps apart (the Turkish dotless i): either way the disk has a file at the new path.
	QTemporaryDir dir;
	const SnapshotFolder look = readSnapshotFolder(dir.path());
	ASSERT_FALSE(writeTestBytes(dir.filePath(QStringLiteral("Live.json")), "the user's file").isEmpty());
	EXPECT_STREQ(resultName(validateSnapshotName(look, QStringLiteral("Live"), QString())), "NameDuplicate");
	EXPECT_STREQ(resultName(validateSnapshotName(look, QStringLiteral("Other"), QString())), "NameAccepted");
}

TEST(SnapshotNames, FilePathUsesTheNameVerbatim)
{
	EXPECT_EQ(snapshotFilePath(QStringLiteral("/cfg/snapshots"), QStringLiteral("Going Live 2.0")),
		  QStringLiteral("/cfg/snapshots/Going Live 2.0.json"));
	EXPECT_EQ(snapshotNameKey(QStringLiteral("\u00c9T\u00c9")), snapshotNameKey(QStringLiteral("e\u0301te\u0301")));
}

} // namespace
