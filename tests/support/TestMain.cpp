#include "support/TestHost.hpp"

#include <QApplication>

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
	testhost::stop();
	return result;
}
