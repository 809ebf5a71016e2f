#include "store/SnapshotDocument.hpp"
#include "support/Facility.hpp"
#include "support/SmallDisk.hpp"
#include "support/TestHost.hpp"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>

void PrintTo(SnapshotIoResult result, std::ostream *out)
{
	static const char *names[] = {"Ok", "OpenError", "Invalid", "TooLarge", "WriteError"};
	*out << names[int(result)];
}

namespace {

class SnapshotDocumentTest : public testing::Test {
protected:
	QTemporaryDir dir{testhost::scratchDirectory() + QStringLiteral("/doc-XXXXXX")};

	QString path(const QString &name) const { return dir.filePath(name); }

	static SnapshotData sample()
	{
		SnapshotData data;
		data.name = QStringLiteral("Going Live");
		data.state = QByteArray("\x00\x00\x00\xff state bytes \x01\x02", 20);
		data.geometry = QByteArray("\x01\xd9\xd0\xcb geometry", 13);
		data.docks = {QStringLiteral("mixerDock"), QStringLiteral("scenesDock")};
		return data;
	}

	static QJsonObject validObject()
	{
		return QJsonObject{
			{QStringLiteral("format"), 1},
			{QStringLiteral("plugin"), QStringLiteral("obs-velkin")},
			{QStringLiteral("obs"), QStringLiteral("32.0.4")},
			{QStringLiteral("name"), QStringLiteral("Scene Building")},
			{QStringLiteral("state"), QStringLiteral("AAAA/w==")},
			{QStringLiteral("geometry"), QStringLiteral("AdnQyw==")},
			{QStringLiteral("docks"), QJsonArray{QStringLiteral("scenesDock")}},
		};
	}

	QString writeBytes(const QString &name, const QByteArray &bytes) const
	{
		QFile file(path(name));
		EXPECT_TRUE(file.open(QIODevice::WriteOnly));
		file.write(bytes);
		return file.fileName();
	}

	QString writeObject(const QString &name, const QJsonObject &object) const
	{
		return writeBytes(name, QJsonDocument(object).toJson());
	}

	// Reads the file and returns the result; on anything but Ok the record must not have changed.
	static SnapshotIoResult read(const QString &file, SnapshotData *out = nullptr)
	{
		SnapshotData data;
		data.name = QStringLiteral("untouched");
		data.state = "s";
		data.geometry = "g";
		data.docks = {QStringLiteral("d")};
		const SnapshotIoResult result = readSnapshotFile(file, data);
		if (result != SnapshotIoResult::Ok) {
			EXPECT_EQ(data.name, QStringLiteral("untouched"));
			EXPECT_EQ(data.state, QByteArray("s"));
			EXPECT_EQ(data.geometry, QByteArray("g"));
			EXPECT_EQ(data.docks, QStringList{QStringLiteral("d")});
		}
		// The catalogue's check of a listed file, which decodes nothing, judges every document alike.
		if (QFileInfo(file).isFile()) {
			QString name;
			QDateTime modified;
			EXPECT_EQ(checkListedSnapshotFile(file, name, modified), result) << file.toStdString();
			if (result == SnapshotIoResult::Ok) {
				EXPECT_EQ(name, data.name);
				EXPECT_EQ(modified, QFileInfo(file).lastModified());
			}
		}
		if (out) {
			*out = data;
		}
		return result;
	}

	SnapshotIoResult readWith(const QString &key, const QJsonValue &value, SnapshotData *out = nullptr) const
	{
		QJsonObject object = validObject();
		if (value.isUndefined()) {
			object.remove(key);
		} else {
			object.insert(key, value);
		}
		return read(writeObject(QStringLiteral("variant.json"), object), out);
	}

	static QByteArray contents(const QString &file)
	{
		QFile f(file);
		return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
	}
};

TEST_F(SnapshotDocumentTest, RoundTripKeepsEveryFieldAndWritesQtIndentedLayout)
{
	SnapshotData data = sample();
	data.docks = {QStringLiteral("b"), QStringLiteral("a"), QStringLiteral("a"), QString()};
	data.name = QStringLiteral("Studio \u00e9 \u6f14\u51fa");
	const QString file = path(QStringLiteral("round.json"));
	ASSERT_EQ(writeSnapshotFile(file, data), SnapshotIoResult::Ok);

	SnapshotData back;
	ASSERT_EQ(read(file, &back), SnapshotIoResult::Ok);
	EXPECT_EQ(back.name, data.name);
	EXPECT_EQ(back.state, data.state);
	EXPECT_EQ(back.geometry, data.geometry);
	EXPECT_EQ(back.docks, data.docks);

	const QByteArray expected = QByteArray("{\n"
					       "    \"docks\": [\n"
					       "        \"b\",\n"
					       "        \"a\",\n"
					       "        \"a\",\n"
					       "        \"\"\n"
					       "    ],\n"
					       "    \"format\": 1,\n"
					       "    \"geometry\": \"") +
				    data.geometry.toBase64() + "\",\n    \"name\": \"" + data.name.toUtf8() +
				    "\",\n    \"obs\": \"" + kHostVersionString +
				    "\",\n    \"plugin\": \"obs-velkin\",\n    \"state\": \"" + data.state.toBase64() +
				    "\"\n}\n";
	EXPECT_EQ(contents(file), expected);
}

TEST_F(SnapshotDocumentTest, WriteWithEmptyDocksStoresEmptyArray)
{
	SnapshotData data = sample();
	data.docks.clear();
	const QString file = path(QStringLiteral("empty-docks.json"));
	ASSERT_EQ(writeSnapshotFile(file, data), SnapshotIoResult::Ok);
	const QJsonObject object = QJsonDocument::fromJson(contents(file)).object();
	EXPECT_TRUE(object.value(QStringLiteral("docks")).isArray());
	EXPECT_TRUE(object.value(QStringLiteral("docks")).toArray().isEmpty());
	SnapshotData back;
	ASSERT_EQ(read(file, &back), SnapshotIoResult::Ok);
	EXPECT_TRUE(back.docks.isEmpty());
}

TEST_F(SnapshotDocumentTest, SizeLimitIsExactlyTwoMebibytes)
{
	QByteArray json = QJsonDocument(validObject()).toJson();
	const QByteArray atLimit = json + QByteArray(kMaxSnapshotFileBytes - json.size(), ' ');
	ASSERT_EQ(atLimit.size(), 2097152);
	EXPECT_EQ(read(writeBytes(QStringLiteral("at-limit.json"), atLimit)), SnapshotIoResult::Ok);
	EXPECT_EQ(read(writeBytes(QStringLiteral("over-limit.json"), atLimit + ' ')), SnapshotIoResult::TooLarge);
	// Beyond the limit the content is never parsed: garbage gives TooLarge, not Invalid.
	EXPECT_EQ(read(writeBytes(QStringLiteral("garbage.json"), QByteArray(kMaxSnapshotFileBytes + 1, 'x'))),
		  SnapshotIoResult::TooLarge);
}

TEST_F(SnapshotDocumentTest, FormatMustBeTheNumberOne)
{
	EXPECT_EQ(readWith(QStringLiteral("format"), 1.0), SnapshotIoResult::Ok);
	EXPECT_EQ(readWith(QStringLiteral("format"), QStringLiteral("1")), SnapshotIoResult::Invalid);
	EXPECT_EQ(readWith(QStringLiteral("format"), 2), SnapshotIoResult::Invalid);
	EXPECT_EQ(readWith(QStringLiteral("format"), 1.5), SnapshotIoResult::Invalid);
	EXPECT_EQ(readWith(QStringLiteral("format"), true), SnapshotIoResult::Invalid);
	EXPECT_EQ(readWith(QStringLiteral("format"), QJsonValue::Undefined), SnapshotIoResult::Invalid);
}

TEST_F(SnapshotDocumentTest, PluginTagIsCaseSensitiveAndObsIsIgnored)
{
	EXPECT_EQ(readWith(QStringLiteral("plugin"), QStringLiteral("OBS-Velkin")), SnapshotIoResult::Invalid);
	EXPECT_EQ(readWith(QStringLiteral("plugin"), 1), SnapshotIoResult::Invalid);
	EXPECT_EQ(readWith(QStringLiteral("plugin"), QJsonValue::Undefined), SnapshotIoResult::Invalid);
	EXPECT_EQ(readWith(QStringLiteral("obs"), QJsonValue::Undefined), SnapshotIoResult::Ok);
	EXPECT_EQ(readWith(QStringLiteral("obs"), QJsonArray{1, 2}), SnapshotIoResult::Ok);
	EXPECT_EQ(readWith(QStringLiteral("comment"), QStringLiteral("extra")), SnapshotIoResult::Ok);
}

TEST_F(SnapshotDocumentTest, NameIsTrimmedNormalisedAndLimitedToEightyUnits)
{
	SnapshotData data;
	ASSERT_EQ(readWith(QStringLiteral("name"), QStringLiteral("  Inner  ")), SnapshotIoResult::Ok);
	ASSERT_EQ(readWith(QStringLiteral("name"), QStringLiteral("  Inner  "), &data), SnapshotIoResult::Ok);
	EXPECT_EQ(data.name, QStringLiteral("Inner"));
	EXPECT_EQ(readWith(QStringLiteral("name"), QStringLiteral("    ")), SnapshotIoResult::Invalid);
	EXPECT_EQ(readWith(QStringLiteral("name"), QStringLiteral(" %1 ").arg(QString(80, u'n'))),
		  SnapshotIoResult::Ok);
	EXPECT_EQ(readWith(QStringLiteral("name"), QString(81, u'n')), SnapshotIoResult::Invalid);
	EXPECT_EQ(readWith(QStringLiteral("name"), 7), SnapshotIoResult::Invalid);

	// 70 plain letters and ten decomposed e-acute (two units each): 90 units that NFC makes 80.
	const QString decomposed = QString(70, u'x') + QString(QStringLiteral("e\u0301")).repeated(10);
	ASSERT_EQ(decomposed.size(), 90);
	ASSERT_EQ(readWith(QStringLiteral("name"), decomposed, &data), SnapshotIoResult::Ok);
	EXPECT_EQ(data.name, QString(70, u'x') + QString(10, QChar(0x00e9)));
	EXPECT_EQ(readWith(QStringLiteral("name"), decomposed + u'x'), SnapshotIoResult::Invalid);
}

TEST_F(SnapshotDocumentTest, Base64IsStrict)
{
	SnapshotData data;
	ASSERT_EQ(readWith(QStringLiteral("state"), QStringLiteral("AAAA/w"), &data), SnapshotIoResult::Ok);
	EXPECT_EQ(data.state, QByteArray("\x00\x00\x00\xff", 4));
	EXPECT_EQ(readWith(QStringLiteral("state"), QStringLiteral("AAAA\n/w==")), SnapshotIoResult::Invalid);
	EXPECT_EQ(readWith(QStringLiteral("state"), QStringLiteral("AAAA_w==")), SnapshotIoResult::Invalid);
	EXPECT_EQ(readWith(QStringLiteral("geometry"), QStringLiteral("Adn-yw==")), SnapshotIoResult::Invalid);
	EXPECT_EQ(readWith(QStringLiteral("state"), QStringLiteral("AA=A/w==")), SnapshotIoResult::Invalid);
	EXPECT_EQ(readWith(QStringLiteral("state"), QStringLiteral("AAAA/w=")), SnapshotIoResult::Invalid);
	EXPECT_EQ(readWith(QStringLiteral("state"), QStringLiteral("")), SnapshotIoResult::Invalid);
	EXPECT_EQ(readWith(QStringLiteral("geometry"), QStringLiteral("")), SnapshotIoResult::Invalid);
	EXPECT_EQ(readWith(QStringLiteral("state"), QStringLiteral("AAAA\u00ff")), SnapshotIoResult::Invalid);
	ASSERT_EQ(readWith(QStringLiteral("geometry"), QStringLiteral("AdnQ"), &data), SnapshotIoResult::Ok);
	EXPECT_EQ(data.geometry, QByteArray("\x01\xd9\xd0", 3));
	for (const char *text : {"A", "====", "AA=", "AAA==", "AAAAA=A", "AA==AA==", "AA AA", "AAAA/w%3D"}) {
		EXPECT_EQ(readWith(QStringLiteral("state"), QString::fromLatin1(text)), SnapshotIoResult::Invalid)
			<< text;
	}
	EXPECT_EQ(readWith(QStringLiteral("geometry"), QJsonValue::Null), SnapshotIoResult::Invalid);
}

TEST_F(SnapshotDocumentTest, DocksAreTakenExactlyAsStored)
{
	SnapshotData data;
	ASSERT_EQ(readWith(QStringLiteral("docks"), QJsonArray{}, &data), SnapshotIoResult::Ok);
	EXPECT_TRUE(data.docks.isEmpty());
	const QJsonArray docks{QStringLiteral("zDock"), QStringLiteral(" aDock "), QStringLiteral(" aDock "),
			       QStringLiteral("")};
	ASSERT_EQ(readWith(QStringLiteral("docks"), docks, &data), SnapshotIoResult::Ok);
	EXPECT_EQ(data.docks, (QStringList{QStringLiteral("zDock"), QStringLiteral(" aDock "),
					   QStringLiteral(" aDock "), QString()}));
	EXPECT_EQ(readWith(QStringLiteral("docks"), QJsonArray{QStringLiteral("a"), 3}), SnapshotIoResult::Invalid);
	EXPECT_EQ(readWith(QStringLiteral("docks"), QStringLiteral("scenesDock")), SnapshotIoResult::Invalid);
	EXPECT_EQ(readWith(QStringLiteral("docks"), QJsonValue::Undefined), SnapshotIoResult::Invalid);
}

TEST_F(SnapshotDocumentTest, DamagedOrMissingFilesAreRefused)
{
	EXPECT_EQ(read(writeBytes(QStringLiteral("array.json"), "[1, 2]")), SnapshotIoResult::Invalid);
	EXPECT_EQ(read(writeBytes(QStringLiteral("empty.json"), "")), SnapshotIoResult::Invalid);
	QByteArray truncated = QJsonDocument(validObject()).toJson();
	truncated.chop(3);
	EXPECT_EQ(read(writeBytes(QStringLiteral("truncated.json"), truncated)), SnapshotIoResult::Invalid);
	EXPECT_EQ(read(path(QStringLiteral("missing.json"))), SnapshotIoResult::OpenError);
	ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("folder.json")));
	EXPECT_EQ(read(path(QStringLiteral("folder.json"))), SnapshotIoResult::OpenError);
}

TEST_F(SnapshotDocumentTest, ReadingNeverOpensFifosOrDevicesAndFollowsLinksToFiles)
{
	// A FIFO would block an open for reading until a writer appears.
	const QString fifo = path(QStringLiteral("fifo.json"));
	ASSERT_EQ(mkfifo(fifo.toUtf8().constData(), 0600), 0);
	EXPECT_EQ(read(fifo), SnapshotIoResult::OpenError);

	const QString device = path(QStringLiteral("device.json"));
	ASSERT_TRUE(QFile::link(QStringLiteral("/dev/zero"), device));
	EXPECT_EQ(read(device), SnapshotIoResult::OpenError);

	const QString dangling = path(QStringLiteral("dangling.json"));
	ASSERT_TRUE(QFile::link(path(QStringLiteral("nowhere.json")), dangling));
	EXPECT_EQ(read(dangling), SnapshotIoResult::OpenError);

	const QString target = writeObject(QStringLiteral("target.json"), validObject());
	const QString link = path(QStringLiteral("link.json"));
	ASSERT_TRUE(QFile::link(target, link));
	EXPECT_EQ(read(link), SnapshotIoResult::Ok);
}

TEST_F(SnapshotDocumentTest, UnwritableRecordsTouchNothing)
{
	const QString file = path(QStringLiteral("kept.json"));
	ASSERT_EQ(writeSnapshotFile(file, sample()), SnapshotIoResult::Ok);
	const QByteArray before = contents(file);

	SnapshotData data = sample();
	data.name = QStringLiteral("   ");
	EXPECT_EQ(writeSnapshotFile(file, data), SnapshotIoResult::Invalid);
	// 81 units are refused even though trimming would leave 80.
	data.name = QStringLiteral(" ") + QString(80, u'n');
	EXPECT_EQ(writeSnapshotFile(file, data), SnapshotIoResult::Invalid);
	data = sample();
	data.state.clear();
	EXPECT_EQ(writeSnapshotFile(file, data), SnapshotIoResult::Invalid);
	data = sample();
	data.geometry.clear();
	EXPECT_EQ(writeSnapshotFile(file, data), SnapshotIoResult::Invalid);
	data = sample();
	data.state = QByteArray(kMaxSnapshotFileBytes, 'x');
	EXPECT_EQ(writeSnapshotFile(file, data), SnapshotIoResult::TooLarge);

	EXPECT_EQ(contents(file), before);
	EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("kept.json")});
}

TEST_F(SnapshotDocumentTest, FailedWriteToImmutableFileOrFolderKeepsTheOldDocument)
{
	const QString file = path(QStringLiteral("guarded.json"));
	ASSERT_EQ(writeSnapshotFile(file, sample()), SnapshotIoResult::Ok);
	const QByteArray before = contents(file);
	SnapshotData changed = sample();
	changed.name = QStringLiteral("Changed");

	VELKIN_REQUIRE_FACILITY(QProcess::execute(QStringLiteral("chattr"), {QStringLiteral("+i"), file}) == 0,
				"chattr on " << dir.path().toStdString());
	const SnapshotIoResult immutableFile = writeSnapshotFile(file, changed);
	QProcess::execute(QStringLiteral("chattr"), {QStringLiteral("-i"), file});
	EXPECT_NE(immutableFile, SnapshotIoResult::Ok);
	EXPECT_EQ(contents(file), before);

	QProcess::execute(QStringLiteral("chattr"), {QStringLiteral("+i"), dir.path()});
	const SnapshotIoResult immutableFolder = writeSnapshotFile(file, changed);
	QProcess::execute(QStringLiteral("chattr"), {QStringLiteral("-i"), dir.path()});
	EXPECT_NE(immutableFolder, SnapshotIoResult::Ok);
	EXPECT_EQ(contents(file), before);
	EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("guarded.json")});
}

TEST_F(SnapshotDocumentTest, FailedWriteOnFullDiskKeepsTheOldDocument)
{
	const QString mountPoint = path(QStringLiteral("small"));
	ASSERT_TRUE(QDir().mkpath(mountPoint));
	const SmallDisk disk(mountPoint, "64k");
	VELKIN_REQUIRE_FACILITY(disk.mounted, "a tmpfs mount");

	const QString file = mountPoint + QStringLiteral("/full.json");
	ASSERT_EQ(writeSnapshotFile(file, sample()), SnapshotIoResult::Ok);
	const QByteArray before = contents(file);
	{
		QFile filler(mountPoint + QStringLiteral("/filler"));
		ASSERT_TRUE(filler.open(QIODevice::WriteOnly));
		const QByteArray block(4096, 'f');
		while (filler.write(block) == block.size() && filler.flush()) {
		}
	}

	SnapshotData big = sample();
	big.state = QByteArray(200 * 1024, 's');
	EXPECT_EQ(writeSnapshotFile(file, big), SnapshotIoResult::WriteError);
	EXPECT_EQ(contents(file), before);
	EXPECT_EQ(QDir(mountPoint).entryList(QDir::Files | QDir::Hidden),
		  (QStringList{QStringLiteral("filler"), QStringLiteral("full.json")}));
}

} // namespace
