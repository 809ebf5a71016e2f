#include "store/SnapshotNames.hpp"
#include "store/SnapshotDocument.hpp"
#include "store/SnapshotFolder.hpp"

#include <QDir>
#include <QFileInfo>

namespace {

const QString kForbiddenCharacters = QStringLiteral("<>:\"/\\|?*");
const QString kDeviceDigits = QStringLiteral("123456789\u00b9\u00b2\u00b3");

bool isReservedBase(const QString &base)
{
	static const QStringList reserved = {QStringLiteral("CON"),    QStringLiteral("PRN"),
					     QStringLiteral("AUX"),    QStringLiteral("NUL"),
					     QStringLiteral("CONIN$"), QStringLiteral("CONOUT$")};
	if (reserved.contains(base)) {
		return true;
	}
	return base.size() == 4 && (base.startsWith(QLatin1String("COM")) || base.startsWith(QLatin1String("LPT"))) &&
	       kDeviceDigits.contains(base.at(3));
}

bool hasAcceptableForm(const QString &name)
{
	if (name.isEmpty() || name.size() > kMaxSnapshotNameLength || name != name.trimmed() ||
	    name.endsWith(QLatin1Char('.'))) {
		return false;
	}
	for (const QChar c : name) {
		if (c.unicode() < 0x20 || kForbiddenCharacters.contains(c)) {
			return false;
		}
	}
	return !isReservedBase(name.section(QLatin1Char('.'), 0, 0).trimmed().toUpper());
}

} // namespace

QString normalizedSnapshotName(const QString &text)
{
	return text.trimmed().normalized(QString::NormalizationForm_C);
}

QString snapshotNameKey(const QString &name)
{
	return name.toCaseFolded().normalized(QString::NormalizationForm_C);
}

NameCheckResult validateSnapshotName(const QString &directory, const QString &name, const QString &excludedPath,
				     SnapshotFolder *looked)
{
	// A name of the wrong form is refused without a look at the folder.
	if (!hasAcceptableForm(name)) {
		return NameCheckResult::NameInvalid;
	}
	SnapshotFolder folder = readSnapshotFolder(directory);
	const NameCheckResult result = validateSnapshotName(folder, name, excludedPath);
	if (looked) {
		*looked = std::move(folder);
	}
	return result;
}

NameCheckResult validateSnapshotName(const SnapshotFolder &folder, const QString &name, const QString &excludedPath)
{
	if (!hasAcceptableForm(name)) {
		return NameCheckResult::NameInvalid;
	}
	const QString key = snapshotNameKey(name);
	const QString fileKey = key + QLatin1String(kSnapshotFileSuffix);
	const QDir dir(folder.directory);
	for (const FolderEntry &entry : folder.entries) {
		if (!excludedPath.isEmpty() && dir.absoluteFilePath(entry.fileName) == excludedPath) {
			continue;
		}
		if (snapshotNameKey(entry.fileName) == fileKey ||
		    (entry.kind == FolderEntry::Kind::Document && snapshotNameKey(entry.name) == key)) {
			return NameCheckResult::NameDuplicate;
		}
	}
	// A disk that ignores letter case compares names by its own table, which can join two names that case folding
	// keeps apart (a Turkish dotless i, say), and a file may have come since the look. A new snapshot never
	// takes the place of a file that the disk already has under that name.
	if (excludedPath.isEmpty() && QFileInfo::exists(snapshotFilePath(folder.directory, name))) {
		return NameCheckResult::NameDuplicate;
	}
	return NameCheckResult::NameAccepted;
}

bool isPlainFileName(const QString &name)
{
	return !name.isEmpty() && name != QLatin1String(".") && name != QLatin1String("..") &&
	       !name.contains(QLatin1Char('/')) && !name.contains(QLatin1Char('\\')) && !name.contains(QChar(0));
}

QString snapshotFilePath(const QString &directory, const QString &name)
{
	return QDir(directory).filePath(name + QLatin1String(kSnapshotFileSuffix));
}

QString normalizedPath(const QString &path)
{
	if (path.isEmpty()) {
		return QString();
	}
	return QDir::cleanPath(QFileInfo(path).absoluteFilePath());
}
