// The whole restore path on arbitrary state and geometry blobs: a document is written and read back, then
// applied to a main window with docks, then the initial layout is applied again. Qt's own parser of the blobs is
// part of what is tested. An input is one byte with the geometry's length, the geometry, then the state; the
// mutator in StateMutator.cpp changes both within their structure, so that most inputs reach the layout code.
//
// Runs in 600 s, and the runs whose snapshot the window took (geometry and state accepted: applyLayout returned
// true), each at the lowest priority on a machine busy with OBS and a build, with the seeds of every test layout:
//   byte mutations only (this harness without the mutator):  6097 runs,  145 accepted  (2.4%)
//   the structured mutator and cross-over:                      999 runs,  678 accepted (67.9%)
// Before the harness let Qt delete what it let go of, the first version of the mutator made 2703 runs with 36.7%
// accepted, and the blind fuzzer with the three first seeds 8823 runs with none accepted.
#include "FuzzHost.hpp"
#include "StateMutator.hpp"
#include "operations/LayoutCapture.hpp"
#include "operations/LayoutRecord.hpp"
#include "operations/ApplyLayout.hpp"
#include "store/SnapshotDocument.hpp"
#include "support/DockWindow.hpp"

#include <QMainWindow>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

namespace {

QMainWindow *window = nullptr;
SnapshotData initialLayout;
// A window like the first, on which the mutator tries its mutants.
QMainWindow *probeWindow = nullptr;

// Runs, and runs whose snapshot the window took (geometry and state both accepted), told at exit: libFuzzer
// ends the process with exit().
unsigned long long runs = 0;
unsigned long long accepted = 0;

void reportAccepted()
{
	fprintf(stderr, "accepted %llu of %llu runs (%.1f%%)\n", accepted, runs,
		runs ? 100.0 * double(accepted) / double(runs) : 0.0);
}

// The snapshot that an input holds: the first byte splits it into the geometry and the state.
bool snapshotOf(const uint8_t *bytes, size_t size, SnapshotData &data)
{
	if (size < 1) {
		return false;
	}
	const size_t split = std::min<size_t>(bytes[0], size - 1);
	data.name = QStringLiteral("Fuzzed");
	data.geometry = QByteArray(reinterpret_cast<const char *>(bytes + 1), qsizetype(split));
	data.state = QByteArray(reinterpret_cast<const char *>(bytes + 1 + split), qsizetype(size - 1 - split));
	data.docks = {QStringLiteral("scenesDock")};
	return true;
}

// What Qt lets go of with deleteLater() (the docks' finished moves, emptied floating tab groups) goes now, as OBS's
// event loop would see to it; otherwise it piles up, slows every later run and crashes in Qt's teardown at exit.
void deleteWhatQtLetGo()
{
	QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

// Whether the window takes the input's snapshot, tried on the probe window. A mutant that crashes Qt there is left in the scratch folder as mutant.bin, since libFuzzer saves only the inputs it runs.
bool restorable(const uint8_t *bytes, size_t size)
{
	SnapshotData data;
	if (!snapshotOf(bytes, size, data)) {
		return false;
	}
	static const QString path = testhost::scratchDirectory() + QStringLiteral("/mutant.bin");
	writeFuzzInput(path, bytes, size);
	if (!safeToRestore(data.geometry, data.state) || !probeWindow->restoreGeometry(data.geometry)) {
		return false;
	}
	const bool taken = restoreDockState(probeWindow, data.state);
	deleteWhatQtLetGo();
	return taken;
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
	probeWindow = new QMainWindow;
	buildDockWindow(probeWindow, plan);
	atexit(reportAccepted);
	return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *bytes, size_t size)
{
	++runs;
	SnapshotData data;
	if (!snapshotOf(bytes, size, data)) {
		return 0;
	}

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
	deleteWhatQtLetGo();
	return 0;
}

// Mutations within the structure of the blobs, so that most inputs reach the layout code behind Qt's first checks.
// Most mutants are ones that the window takes, so that the runs reach the layout code: a mutant that it refuses is
// made again, up to five times, and one in six is kept all the same, for the paths of refusal.
template <typename Make>
size_t takenMostly(unsigned seed, uint8_t *out, Make make)
{
	std::minstd_rand random(seed);
	size_t made = 0;
	for (int attempt = 0; attempt < 6; ++attempt) {
		made = make(unsigned(random()));
		if (random() % 6 == 0 || restorable(out, made)) {
			break;
		}
	}
	return made;
}

extern "C" size_t LLVMFuzzerCustomMutator(uint8_t *data, size_t size, size_t maxSize, unsigned seed)
{
	const std::vector<uint8_t> original(data, data + size);
	return takenMostly(seed, data, [&](unsigned attemptSeed) {
		std::copy(original.begin(), original.end(), data);
		return mutateRestoreInput(data, size, maxSize, attemptSeed);
	});
}

// Records of one input grafted into another.
extern "C" size_t LLVMFuzzerCustomCrossOver(const uint8_t *data1, size_t size1, const uint8_t *data2, size_t size2,
					    uint8_t *out, size_t maxOutSize, unsigned seed)
{
	return takenMostly(seed, out, [&](unsigned attemptSeed) {
		return crossOverRestoreInputs(data1, size1, data2, size2, out, maxOutSize, attemptSeed);
	});
}
