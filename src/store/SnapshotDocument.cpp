#include "store/SnapshotDocument.hpp"
#include "store/SnapshotNames.hpp"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QSaveFile>
#include <QStringView>

#include <algorithm>

namespace {

const QString kKeyFormat = QStringLiteral("format");
const QString kKeyPlugin = QStringLiteral("plugin");
const QString kKeyObs = QStringLiteral("obs");
const QString kKeyName = QStringLiteral("name");
const QString kKeyState = QStringLiteral("state");
const QString kKeyGeometry = QStringLiteral("geometry");
const QString kKeyDocks = QStringLiteral("docks");

// Strict standard Base64: no white space, no URL-safe letters, padding only at the end; unpadded input is fine.
// Checked in place, without a decoded copy: the number of bytes the text stands for, or -1 when it is not Base64.
qsizetype strictBase64Size(QStringView text)
{
	const qsizetype size = text.size();
	qsizetype letters = 0;
	for (qsizetype i = 0; i < size; ++i) {
		const char16_t c = text[i].unicode();
		if ((c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z') || (c >= u'0' && c <= u'9') || c == u'+' ||
		    c == u'/') {
			++letters;
			continue;
		}
		// One or two '=' that close a text of whole groups of four.
		if (c == u'=' && size % 4 == 0 && (i == size - 1 || (i == size - 2 && text[size - 1] == u'='))) {
			break;
		}
		return -1;
	}
	return letters * 6 / 8;
}

// A checked text is plain ASCII: its Latin-1 bytes are the Base64 letters.
QByteArray decodeBase64(const QString &text)
{
	return QByteArray::fromBase64(text.toLatin1());
}

constexpr qsizetype kFirstReadBytes = 65536;

// Opens a document for reading straight into the caller's buffer, without a buffer of the file's own.
bool openDocument(QFile &file)
{
	return file.open(QIODevice::ReadOnly | QIODevice::Unbuffered);
}

// Reads the whole of an open document into `buffer`, which keeps its capacity from one file to the next, and
// returns the document's bytes, which live in the buffer; refuses a document beyond the size limit. The file's
// size is not asked: a file that grows while it is read is judged by what was read.
SnapshotIoResult readDocumentBytes(QFile &file, QByteArray &buffer, QByteArray &bytes)
{
	if (buffer.size() < kFirstReadBytes) {
		buffer.resize(kFirstReadBytes);
	}
	qsizetype length = 0;
	for (;;) {
		const qint64 got = file.read(buffer.data() + length, buffer.size() - length);
		if (got < 0) {
			return SnapshotIoResult::OpenError;
		}
		length += qsizetype(got);
		if (length > kMaxSnapshotFileBytes) {
			return SnapshotIoResult::TooLarge;
		}
		// A read stops short of the request only at the end of the file.
		if (length < buffer.size()) {
			break;
		}
		buffer.resize(std::min<qsizetype>(buffer.size() * 2, kMaxSnapshotFileBytes + 1));
	}
	file.close();
	bytes = QByteArray::fromRawData(buffer.constData(), length);
	return SnapshotIoResult::Ok;
}

// Checks a document. The record, when given, is filled on Ok; the name always is. Without a record the layout is
// only checked, never decoded.
SnapshotIoResult checkDocument(const QByteArray &bytes, SnapshotData *data, QString &name)
{
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

	const QString state = stateValue.toString();
	const QString geometry = geometryValue.toString();
	const QString normalized = normalizedSnapshotName(nameValue.toString());
	if (normalized.isEmpty() || normalized.size() > kMaxSnapshotNameLength || strictBase64Size(state) <= 0 ||
	    strictBase64Size(geometry) <= 0) {
		return SnapshotIoResult::Invalid;
	}

	const QJsonArray dockArray = docksValue.toArray();
	for (const QJsonValue &dock : dockArray) {
		if (!dock.isString()) {
			return SnapshotIoResult::Invalid;
		}
	}

	name = normalized;
	if (data) {
		data->name = normalized;
		data->state = decodeBase64(state);
		data->geometry = decodeBase64(geometry);
		data->docks.clear();
		data->docks.reserve(dockArray.size());
		for (const QJsonValue &dock : dockArray) {
			data->docks.append(dock.toString());
		}
	}
	return SnapshotIoResult::Ok;
}

} // namespace

SnapshotIoResult readSnapshotFile(const QString &path, SnapshotData &data)
{
	// Opening a FIFO or a device would block until a writer appears; such paths are refused unopened.
	if (!QFileInfo(path).isFile()) {
		return SnapshotIoResult::OpenError;
	}
	QFile file(path);
	if (!openDocument(file)) {
		return SnapshotIoResult::OpenError;
	}
	QByteArray buffer;
	QByteArray bytes;
	const SnapshotIoResult read = readDocumentBytes(file, buffer, bytes);
	if (read != SnapshotIoResult::Ok) {
		return read;
	}
	SnapshotData checked;
	QString name;
	const SnapshotIoResult result = checkDocument(bytes, &checked, name);
	if (result == SnapshotIoResult::Ok) {
		data = std::move(checked);
	}
	return result;
}

SnapshotIoResult checkListedSnapshotFile(const QString &path, QString &name, QDateTime &modified, QByteArray *buffer)
{
	QFile file(path);
	if (!openDocument(file)) {
		return SnapshotIoResult::OpenError;
	}
	const QDateTime time = file.fileTime(QFileDevice::FileModificationTime);
	QByteArray ownBuffer;
	QByteArray bytes;
	const SnapshotIoResult read = readDocumentBytes(file, buffer ? *buffer : ownBuffer, bytes);
	if (read != SnapshotIoResult::Ok) {
		return read;
	}
	const SnapshotIoResult result = checkDocument(bytes, nullptr, name);
	if (result == SnapshotIoResult::Ok) {
		modified = time;
	}
	return result;
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
