#include "support/TestHost.hpp"

#include <QApplication>

#include <cstdio>

#include <gtest/gtest.h>

int main(int argc, char **argv)
{
	testing::InitGoogleTest(&argc, argv);
	if (GTEST_FLAG_GET(list_tests)) {
		return RUN_ALL_TESTS();
	}
	QApplication app(argc, argv);
	if (!testhost::start()) {
		return 1;
	}
	const int result = RUN_ALL_TESTS();
	// A text that the code asks for and en-US lacks fails whichever test asked for it.
	const QStringList missing = testhost::takeMissingTexts();
	for (const QString &key : missing) {
		fprintf(stderr, "FAILED: en-US has no text for the key %s\n", key.toUtf8().constData());
	}
	testhost::stop();
	return missing.isEmpty() ? result : 1;
}
