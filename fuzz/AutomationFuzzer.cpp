// The automation.json read on arbitrary bytes, with the undo hotkey's bindings handed to the host as at start-up.
#include "FuzzHost.hpp"
#include "automation/AutomationFile.hpp"
#include "module/Velkin.hpp"
#include "settings/SettingsFile.hpp"

#include <cstdint>
#include <cstdlib>

namespace {

Velkin *velkin = nullptr;

bool isPlainFileName(const QString &name)
{
	return !name.contains(QLatin1Char('/')) && !name.contains(QLatin1Char('\\')) && name != QLatin1String("..");
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
	startFuzzHost();
	velkin = makeFuzzController();
	probe(velkin).automationPath() = testhost::scratchDirectory() + QStringLiteral("/automation.json");
	return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *bytes, size_t size)
{
	writeFuzzInput(probe(velkin).automationPath(), bytes, size);

	probe(velkin).automation().read(probe(velkin).automationPath());
	testhost::clearLog();
	hotkeyBindingsFromJson(probe(velkin).undoHotkeyId(), probe(velkin).automationSettings().undoHotkey);
	// Whatever came in, a rule names a file of the snapshot folder by its name alone, and what is written
	// reads back as the same settings.
	for (const QString &rule : probe(velkin).automationSettings().rules) {
		if (!isPlainFileName(rule)) {
			std::abort();
		}
	}
	const std::optional<AutomationSettings> again =
		parseAutomation(automationToJson(probe(velkin).automationSettings()), nullptr);
	if (!again || !(*again == probe(velkin).automationSettings())) {
		std::abort();
	}
	return 0;
}
