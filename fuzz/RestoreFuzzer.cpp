// The whole restore path on arbitrary state and geometry blobs: a document is written and read back, then
// applied to a main window with docks. Qt's own parser of the blobs is part of what is tested.
#include "FuzzHost.hpp"
#include "operations/Layout.hpp"
#include "store/SnapshotDocument.hpp"
#include "support/DockWindow.hpp"

#include <QMainWindow>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

QMainWindow *window = nullptr;
SnapshotData initialLayout;

// Runs, and runs whose snapshot the window took (geometry and state both accepted), told at exit: libFuzzer
// ends the process with exit().
unsigned long long runs = 0;
unsigned long long accepted = 0;

void reportAccepted()
{
	fprintf(stderr, "accepted %llu of %llu runs (%.1f%%)\n", accepted, runs,
		runs ? 100.0 * double(accepted) / double(runs) : 0.0);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
	startFuzzHost();
	window = new QMainWindow;
	// OBS's core docks, not shown: fuzzers run offscreen.
	DockWindowPlan plan;
	plan.docks = coreDocks();
	plan.tabified = {{QStringLiteral("scenesDock"), QStringLiteral("sourcesDock")}};
	plan.floating = {{QStringLiteral("statsDock")}};
	plan.size = QSize(1000, 700);
	plan.show = false;
	buildDockWindow(window, plan);
	initialLayout = captureLayout(window, QStringLiteral("Initial"));
	atexit(reportAccepted);
	return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *bytes, size_t size)
{
	++runs;
	// The first byte splits the input into the geometry and the state.
	if (size < 1) {
		return 0;
	}
	const size_t split = std::min<size_t>(bytes[0], size - 1);
	SnapshotData data;
	data.name = QStringLiteral("Fuzzed");
	data.geometry = QByteArray(reinterpret_cast<const char *>(bytes + 1), qsizetype(split));
	data.state = QByteArray(reinterpret_cast<const char *>(bytes + 1 + split), qsizetype(size - 1 - split));
	data.docks = {QStringLiteral("scenesDock")};

	static const QString path = testhost::scratchDirectory() + QStringLiteral("/fuzzed.json");
	SnapshotData read;
	if (writeSnapshotFile(path, data) != SnapshotIoResult::Ok ||
	    readSnapshotFile(path, read) != SnapshotIoResult::Ok) {
		return 0;
	}
	if (applyLayout(window, read)) {
		++accepted;
	}
	// Back to a known layout for the next input, through the same path, as the plug-in itself would do it.
	applyLayout(window, initialLayout);
	return 0;
}
