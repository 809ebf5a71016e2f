#pragma once

#include <QtGlobal>

#include <gtest/gtest.h>

// The fault tests need chattr, tmpfs mounts and xdotool. The test command runs them as root inside the build
// root, where all of these exist: there a missing one is a failure, never a skip that CTest would count as a
// pass. Anywhere else the test skips itself.
inline bool facilitiesRequired()
{
	return qEnvironmentVariableIsSet("VELKIN_IN_ROOT");
}

#define VELKIN_REQUIRE_FACILITY(available, what)                                        \
	do {                                                                            \
		if (!(available)) {                                                     \
			if (facilitiesRequired()) {                                     \
				FAIL() << what << " is missing under the test command"; \
			}                                                               \
			GTEST_SKIP() << what << " is not available here";               \
		}                                                                       \
	} while (false)
