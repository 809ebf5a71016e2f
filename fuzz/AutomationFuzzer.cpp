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
	velkin->automationPath = testhost::scratchDirectory() + QStringLiteral("/automation.json");
	return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *bytes, size_t size)
{
	writeFuzzInput(velkin->automationPath, bytes, size);

	velkin->readAutomation();
	testhost::clearLog();
	hotkeyBindingsFromJson(probe(velkin).undoHotkeyId(), velkin->automation.undoHotkey);
	// Whatever came in, a rule names a file of the snapshot folder by its name alone, and what is written
	// reads back as the same settings.
	for (const QString &rule : velkin->automation.rules) {
		if (!isPlainFileName(rule)) {
			std::abort();
		}
	}
	const std::optional<AutomationSettings> again = parseAutomation(automationToJson(velkin->automation), nullptr);
	if (!again || !(*again == velkin->automation)) {
		std::abort();
	}
	return 0;
}
