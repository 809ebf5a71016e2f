// readSnapshotFile on arbitrary bytes: never crashes, an accepted document always obeys the rules, and the folder's
// check without decoding agrees with it.
#include "FuzzHost.hpp"
#include "store/SnapshotDocument.hpp"

#include <QJsonDocument>
#include <QJsonObject>

#include <cstdint>
#include <cstdlib>
#include <utility>

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
	startFuzzHost();
	return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *bytes, size_t size)
{
	static const QString path = testhost::scratchDirectory() + QStringLiteral("/input.json");
	writeFuzzInput(path, bytes, size);

	SnapshotData data;
	const SnapshotIoResult read = readSnapshotFile(path, data);
	// The folder's check, which decodes nothing, judges alike and finds the same name.
	QString name;
	QDateTime modified;
	if (checkListedSnapshotFile(path, name, modified) != read ||
	    (read == SnapshotIoResult::Ok && name != data.name)) {
		std::abort();
	}
	if (read == SnapshotIoResult::Ok) {
		// Qt's own strict Base64 decoder accepts the blobs and gives the same bytes.
		const QJsonObject object =
			QJsonDocument::fromJson(QByteArray(reinterpret_cast<const char *>(bytes), qsizetype(size)))
				.object();
		for (const auto &[key, blob] : {std::pair{QStringLiteral("state"), data.state},
						std::pair{QStringLiteral("geometry"), data.geometry}}) {
			const auto decoded = QByteArray::fromBase64Encoding(object.value(key).toString().toLatin1(),
									    QByteArray::AbortOnBase64DecodingErrors);
			if (decoded.decodingStatus != QByteArray::Base64DecodingStatus::Ok || decoded.decoded != blob) {
				std::abort();
			}
		}
		if (data.name.isEmpty() || data.name.size() > kMaxSnapshotNameLength ||
		    data.name != data.name.trimmed() || data.state.isEmpty() || data.geometry.isEmpty()) {
			std::abort();
		}
		// What was accepted can be written and read back unchanged.
		const QString copy = testhost::scratchDirectory() + QStringLiteral("/copy.json");
		SnapshotData back;
		if (writeSnapshotFile(copy, data) != SnapshotIoResult::Ok ||
		    readSnapshotFile(copy, back) != SnapshotIoResult::Ok || back.state != data.state ||
		    back.geometry != data.geometry || back.docks != data.docks) {
			std::abort();
		}
	}
	return 0;
}
