#pragma once

// The real libobs and Qt for a fuzzer process, started once (offscreen: fuzzers run without a display).
#include "module/Velkin.hpp"
#include "support/FrontendStandIn.hpp"
#include "support/TestHost.hpp"
#include "support/VelkinProbe.hpp"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMainWindow>

#include <cstdint>
#include <cstdlib>

inline void startFuzzHost()
{
	static int argc = 1;
	static char name[] = "velkin-fuzzer";
	static char *argv[] = {name, nullptr};
	qputenv("QT_QPA_PLATFORM", "offscreen");
	// Never destroyed: libFuzzer ends the process with exit(), and Qt's widgets must not be torn down from
	// under the windows the fuzzers still hold.
	new QApplication(argc, argv);
	if (!testhost::start()) {
		std::abort();
	}
}

// The fuzzer's input as the file at path, replacing what the last input left there.
inline void writeFuzzInput(const QString &path, const uint8_t *bytes, size_t size)
{
	QFile file(path);
	if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
	    file.write(reinterpret_cast<const char *>(bytes), qint64(size)) != qint64(size)) {
		std::abort();
	}
}

// A controller on a main window of its own, never activated: what the constructor reads comes from the
// module's real configuration folder, and the fuzzer points the paths it needs at scratch files.
inline Velkin *makeFuzzController()
{
	auto *window = new QMainWindow;
	standin::mainWindow = window;
	return new Velkin(window);
}
