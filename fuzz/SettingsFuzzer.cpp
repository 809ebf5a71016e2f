// The settings read on arbitrary bytes, with the global bindings handed to the host as at start-up.
#include "FuzzHost.hpp"
#include "module/Velkin.hpp"
#include "settings/SettingsFile.hpp"

#include <QJsonArray>

#include <cstdint>
#include <cstdlib>

namespace {

Velkin *velkin = nullptr;

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
	startFuzzHost();
	velkin = makeFuzzController();
	probe(velkin).settingsPath() = testhost::scratchDirectory() + QStringLiteral("/settings.json");
	return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *bytes, size_t size)
{
	writeFuzzInput(probe(velkin).settingsPath(), bytes, size);

	probe(velkin).readSettings();
	hotkeyBindingsFromJson(probe(velkin).cycleHotkeyId(),
			       probe(velkin).settings().value(QStringLiteral("cycleHotkey")).toArray());
	hotkeyBindingsFromJson(probe(velkin).openHotkeyId(),
			       probe(velkin).settings().value(QStringLiteral("openHotkey")).toArray());
	// Whatever came in, what goes out is a binding array the host made, and it survives a round trip: handed
	// back to the host and saved again, it comes out the same.
	for (const obs_hotkey_id id : {probe(velkin).cycleHotkeyId(), probe(velkin).openHotkeyId()}) {
		const QJsonArray written = hotkeyBindingsToJson(id);
		hotkeyBindingsFromJson(id, written);
		if (hotkeyBindingsToJson(id) != written) {
			std::abort();
		}
	}
	return 0;
}
