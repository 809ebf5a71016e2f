// validateSnapshotName on arbitrary UTF-16: never crashes, and an accepted name is a safe file name.
#include "FuzzHost.hpp"
#include "store/SnapshotDocument.hpp"
#include "store/SnapshotNames.hpp"

#include <QDir>
#include <QFileInfo>

#include <cstdint>
#include <cstdlib>

namespace {

QString directory;

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
	startFuzzHost();
	directory = testhost::scratchDirectory() + QStringLiteral("/names");
	QDir().mkpath(directory);
	SnapshotData data;
	data.name = QStringLiteral("Stra\u00dfe Live");
	data.state = "s";
	data.geometry = "g";
	writeSnapshotFile(directory + QStringLiteral("/other file.json"), data);
	QDir(directory).mkdir(QStringLiteral("Talk.json"));
	return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *bytes, size_t size)
{
	const QString name(reinterpret_cast<const QChar *>(bytes), qsizetype(size / 2));
	if (validateSnapshotName(directory, name, QString()) != NameCheckResult::NameAccepted) {
		return 0;
	}
	// An accepted name stays inside the directory and is no reserved device or hidden trick.
	const QString path = snapshotFilePath(directory, name);
	if (name.contains(QLatin1Char('/')) || name.contains(QLatin1Char('\\')) || name.contains(QChar(0)) ||
	    name.size() > kMaxSnapshotNameLength || name != name.trimmed() || name.endsWith(QLatin1Char('.')) ||
	    QFileInfo(path).absolutePath() != QFileInfo(directory).absoluteFilePath()) {
		std::abort();
	}
	return 0;
}
