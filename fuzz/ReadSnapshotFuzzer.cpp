// readSnapshotFile on arbitrary bytes: never crashes, and an accepted document always obeys the rules.
#include "FuzzHost.hpp"
#include "store/SnapshotDocument.hpp"

#include <cstdint>
#include <cstdlib>

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
	if (readSnapshotFile(path, data) == SnapshotIoResult::Ok) {
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
