#include "store/SnapshotDocument.hpp"
#include "store/SnapshotNames.hpp"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QSaveFile>

#include <optional>

namespace {

const QString kKeyFormat = QStringLiteral("format");
const QString kKeyPlugin = QStringLiteral("plugin");
const QString kKeyObs = QStringLiteral("obs");
const QString kKeyName = QStringLiteral("name");
const QString kKeyState = QStringLiteral("state");
const QString kKeyGeometry = QStringLiteral("geometry");
const QString kKeyDocks = QStringLiteral("docks");

// Strict standard Base64: no white space, no URL-safe letters, padding only at the end; unpadded input is fine.
std::optional<QByteArray> decodeBase64(const QString &text)
{
	auto result = QByteArray::fromBase64Encoding(text.toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
	if (result.decodingStatus != QByteArray::Base64DecodingStatus::Ok) {
		return std::nullopt;
	}
	return result.decoded;
}

} // namespace

SnapshotIoResult readSnapshotFile(const QString &path, SnapshotData &data)
{
	return readSnapshotFile(QFileInfo(path), data);
}

SnapshotIoResult readSnapshotFile(const QFileInfo &info, SnapshotData &data)
{
	// Opening a FIFO or a device would block until a writer appears; such paths are refused unopened.
	if (!info.isFile()) {
		return SnapshotIoResult::OpenError;
	}

	QFile file(info.absoluteFilePath());
	if (!file.open(QIODevice::ReadOnly)) {
		return SnapshotIoResult::OpenError;
	}
	const qint64 size = file.size();
	if (size > kMaxSnapshotFileBytes) {
		return SnapshotIoResult::TooLarge;
	}
	// One byte more than the file holds shows whether it grew meanwhile; QIODevice::read allocates the
	// whole request up front, so ask for no more than that.
	const QByteArray bytes = file.read(size + 1);
	file.close();
	if (bytes.size() > kMaxSnapshotFileBytes) {
		// The file grew after its size was taken.
		return SnapshotIoResult::TooLarge;
	}

	QJsonParseError parseError;
	const QJsonDocument document = QJsonDocument::fromJson(bytes, &parseError);
	if (parseError.error != QJsonParseError::NoError || !document.isObject()) {
		return SnapshotIoResult::Invalid;
	}
	const QJsonObject object = document.object();

	if (object.value(kKeyFormat).toInt(0) != kSnapshotFormatVersion ||
	    object.value(kKeyPlugin).toString() != QLatin1String(kSnapshotFormatTag)) {
		return SnapshotIoResult::Invalid;
	}
	const QJsonValue nameValue = object.value(kKeyName);
	const QJsonValue stateValue = object.value(kKeyState);
	const QJsonValue geometryValue = object.value(kKeyGeometry);
	const QJsonValue docksValue = object.value(kKeyDocks);
	if (!nameValue.isString() || !stateValue.isString() || !geometryValue.isString() || !docksValue.isArray()) {
		return SnapshotIoResult::Invalid;
	}

	const std::optional<QByteArray> state = decodeBase64(stateValue.toString());
	const std::optional<QByteArray> geometry = decodeBase64(geometryValue.toString());
	const QString name = normalizedSnapshotName(nameValue.toString());
	if (!state || !geometry || name.isEmpty() || name.size() > kMaxSnapshotNameLength || state->isEmpty() ||
	    geometry->isEmpty()) {
		return SnapshotIoResult::Invalid;
	}

	QStringList docks;
	const QJsonArray dockArray = docksValue.toArray();
	docks.reserve(dockArray.size());
	for (const QJsonValue &dock : dockArray) {
		if (!dock.isString()) {
			return SnapshotIoResult::Invalid;
		}
		docks.append(dock.toString());
	}

	data.name = name;
	data.state = *state;
	data.geometry = *geometry;
	data.docks = docks;
	return SnapshotIoResult::Ok;
}

SnapshotIoResult writeSnapshotFile(const QString &path, const SnapshotData &data)
{
	if (data.name.trimmed().isEmpty() || data.name.size() > kMaxSnapshotNameLength || data.state.isEmpty() ||
	    data.geometry.isEmpty()) {
		return SnapshotIoResult::Invalid;
	}

	QJsonObject object;
	object.insert(kKeyFormat, kSnapshotFormatVersion);
	object.insert(kKeyPlugin, QLatin1String(kSnapshotFormatTag));
	object.insert(kKeyObs, QLatin1String(kHostVersionString));
	object.insert(kKeyName, data.name);
	object.insert(kKeyState, QString::fromLatin1(data.state.toBase64()));
	object.insert(kKeyGeometry, QString::fromLatin1(data.geometry.toBase64()));
	object.insert(kKeyDocks, QJsonArray::fromStringList(data.docks));
	const QByteArray bytes = QJsonDocument(object).toJson(QJsonDocument::Indented);
	if (bytes.size() > kMaxSnapshotFileBytes) {
		return SnapshotIoResult::TooLarge;
	}

	QSaveFile file(path);
	if (!file.open(QIODevice::WriteOnly)) {
		return SnapshotIoResult::OpenError;
	}
	if (file.write(bytes) != bytes.size()) {
		// Dropped without commit: the previous file at the path stays as it was.
		file.cancelWriting();
		return SnapshotIoResult::WriteError;
	}
	return file.commit() ? SnapshotIoResult::Ok : SnapshotIoResult::WriteError;
}
