#pragma once

// The real libobs and Qt for a fuzzer process, started once (offscreen: fuzzers run without a display).
#include "support/TestHost.hpp"

#include <QApplication>
#include <QDir>

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
