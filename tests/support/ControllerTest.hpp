#pragma once

#include "base/Log.hpp"
#include "module/Module.hpp"
#include "module/Velkin.hpp"
#include "store/SnapshotDocument.hpp"
#include "operations/LayoutCapture.hpp"
#include "support/DockWindow.hpp"
#include "support/FrontendStandIn.hpp"
#include "support/TestHost.hpp"
#include "support/VelkinProbe.hpp"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMainWindow>
#include <QPointer>

#include <gtest/gtest.h>

// A controller on a real main window, with the module's real configuration paths: the module's folder is made anew for
// every test, so that nothing a test leaves there reaches the next one in the same process.
class ControllerTest : public testing::Test {
protected:
	void SetUp() override
	{
		QDir(moduleConfigDirectory()).removeRecursively();
		QFile::remove(moduleConfigDirectory());
		ASSERT_FALSE(QFileInfo::exists(moduleConfigDirectory())) << "the module's folder of the test before stays";
		window = new QMainWindow;
		standin::mainWindow = window;
		testhost::clearLog();
	}

	void TearDown() override
	{
		delete velkin.data();
		delete window.data();
		standin::eventCallbacks.clear();
	}

	Velkin *makeController()
	{
		velkin = new Velkin(window);
		return velkin;
	}

	static QString moduleConfigDirectory() { return testhost::configDirectory() + QStringLiteral("/obs-velkin"); }
	static QString snapshotDirectory() { return moduleConfigDirectory() + QStringLiteral("/snapshots"); }
	static QString settingsPath() { return moduleConfigDirectory() + QStringLiteral("/settings.json"); }

	// The file of a snapshot named after its display name.
	static QString path(const QString &name)
	{
		return QDir(snapshotDirectory()).filePath(name + QStringLiteral(".json"));
	}

	// Stores the window's current layout under each name, so that loading them asks nothing.
	void addLayoutSnapshots(const QStringList &names)
	{
		for (const QString &name : names) {
			SnapshotData data;
			data.name = name;
			data.state = window->saveState(0);
			data.geometry = window->saveGeometry();
			ASSERT_EQ(writeSnapshotFile(path(name), data), SnapshotIoResult::Ok);
		}
	}

	QPointer<QMainWindow> window;
	QPointer<Velkin> velkin;
};

// A controller over the test docks, where every snapshot differs from the others by the window's width: the width
// tells which one is on screen.
class WidthSnapshotTest : public ControllerTest {
protected:
	void SetUp() override
	{
		ControllerTest::SetUp();
		addTestDocks(window, false);
		QDir().mkpath(snapshotDirectory());
	}

	QString snapshotOfWidth(const QString &name, int width, const QStringList &extraDocks = {})
	{
		window->resize(width, 500);
		QApplication::processEvents();
		SnapshotData data = captureLayout(window, name);
		data.docks.append(extraDocks);
		EXPECT_EQ(writeSnapshotFile(path(name), data), SnapshotIoResult::Ok);
		window->resize(500, 500);
		QApplication::processEvents();
		return path(name);
	}
};
