#include "operations/LayoutCapture.hpp"
#include "operations/LayoutRecord.hpp"
#include "operations/ApplyLayout.hpp"
#include "module/Keys.hpp"
#include "store/SnapshotCatalogue.hpp"
#include "store/SnapshotNames.hpp"
#include "support/Facility.hpp"
#include "support/ControllerTest.hpp"
#include "support/Documents.hpp"
#include "support/SmallDisk.hpp"
#include "support/DockWindow.hpp"
#include "support/Modal.hpp"

#include <QDataStream>
#include <QDockWidget>
#include <QGuiApplication>
#include <QtEndian>
#include <QJsonDocument>
#include <QJsonObject>
#include <QListWidget>
#include <QProcess>
#include <QScreen>
#include <QTest>

namespace {

class CaptureRestoreTest : public ControllerTest {
protected:
	void SetUp() override
	{
		ControllerTest::SetUp();
		// Byte-exact round trips need docks that Qt can tell apart.
		const std::string test = testing::UnitTest::GetInstance()->current_test_info()->name();
		addTestDocks(window, test == "CaptureRecordsTheNamedDocksSortedAndOnce");
		makeController();
		QDir().mkpath(snapshotDirectory());
		probe(velkin).ready() = true;
	}

	QDockWidget *dock(const char *name) const
	{
		return window->findChild<QDockWidget *>(QString::fromLatin1(name));
	}

	// Moves docks around so that the window clearly differs from the layout captured before.
	void rearrange()
	{
		dock("statsDock")->setFloating(false);
		window->addDockWidget(Qt::RightDockWidgetArea, dock("statsDock"));
		dock("transitionsDock")->show();
		dock("mixerDock")->setFloating(true);
		window->addDockWidget(Qt::TopDockWidgetArea, dock("controlsDock"));
		window->setGeometry(300, 200, 800, 600);
		QApplication::processEvents();
	}

	// Saves the current layout as a new snapshot through the prompt and returns its path.
	QString saveNew(const QString &typed)
	{
		answerModals(typeName(typed), [&] { velkin->saveNewSnapshot(); });
		return probe(velkin).last();
	}

	static QString pathOf(const QString &fileName) { return QDir(snapshotDirectory()).filePath(fileName); }
};

TEST_F(CaptureRestoreTest, CaptureRecordsTheNamedDocksSortedAndOnce)
{
	// A plug-in's dock that holds a main window of its own: the dock inside is that window's.
	auto *holder = new QDockWidget(QStringLiteral("Holder"), window);
	holder->setObjectName(QStringLiteral("holderDock"));
	auto *inner = new QMainWindow;
	auto *innerDock = new QDockWidget(QStringLiteral("Inner"), inner);
	innerDock->setObjectName(QStringLiteral("innerDock"));
	inner->addDockWidget(Qt::LeftDockWidgetArea, innerDock);
	holder->setWidget(inner);
	window->addDockWidget(Qt::RightDockWidgetArea, holder);
	EXPECT_EQ(dockNames(window),
		  (QStringList{QStringLiteral("Browser"), QStringLiteral("controlsDock"), QStringLiteral("holderDock"),
			       QStringLiteral("mixerDock"), QStringLiteral("scenesDock"), QStringLiteral("sourcesDock"),
			       QStringLiteral("statsDock"), QStringLiteral("transitionsDock")}));
	const SnapshotData data = captureLayout(window, QStringLiteral("Live"));
	EXPECT_EQ(data.name, QStringLiteral("Live"));
	EXPECT_EQ(data.state, window->saveState(0));
	EXPECT_EQ(data.geometry, window->saveGeometry());
	EXPECT_EQ(data.docks, dockNames(window));
}

TEST_F(CaptureRestoreTest, SavedLayoutComesBackExactly)
{
	const QByteArray state = window->saveState(0);
	const QRect geometry = window->geometry();
	const QString path = saveNew(QStringLiteral("  Going Live  "));
	ASSERT_EQ(path, pathOf(QStringLiteral("Going Live.json")));
	EXPECT_EQ(probe(velkin).snapshotOrder(), QStringList{QStringLiteral("Going Live.json")});
	EXPECT_EQ(QJsonDocument::fromJson(readTestBytes(settingsPath()))
			  .object()
			  .value(QStringLiteral("last"))
			  .toString(),
		  path);

	rearrange();
	ASSERT_NE(window->saveState(0), state);
	probe(velkin).last().clear();
	auto records = answerModals(clickOk, [&] { velkin->loadSnapshot(path); });
	EXPECT_TRUE(records.isEmpty()) << "every dock exists: no question";
	QApplication::processEvents();
	EXPECT_EQ(window->saveState(0), state);
	EXPECT_EQ(window->geometry(), geometry);
	EXPECT_TRUE(dock("statsDock")->isFloating());
	EXPECT_FALSE(dock("mixerDock")->isFloating());
	EXPECT_TRUE(dock("transitionsDock")->isHidden());
	EXPECT_EQ(window->dockWidgetArea(dock("controlsDock")), Qt::RightDockWidgetArea);
	EXPECT_EQ(probe(velkin).last(), path);
	EXPECT_TRUE(probe(velkin).settingsSaveTimer().isActive()) << "the restore saves through the timer";
}

TEST_F(CaptureRestoreTest, MissingDocksAreAskedAboutFirst)
{
	SnapshotData data = captureLayout(window, QStringLiteral("Other PC"));
	data.docks = {QStringLiteral("goneDock"), QStringLiteral("scenesDock"), QStringLiteral("ScenesDock"),
		      QStringLiteral("goneDock")};
	rearrange();
	const QString path = pathOf(QStringLiteral("Other PC.json"));
	ASSERT_EQ(writeSnapshotFile(path, data), SnapshotIoResult::Ok);
	QListWidget list;
	probe(velkin).snapshotList() = &list;
	velkin->refreshSnapshotList(QString());
	new QListWidgetItem(QStringLiteral("another"), &list);
	list.setCurrentRow(1);
	const QByteArray before = window->saveState(0);

	for (const ModalAnswer &answer :
	     std::initializer_list<ModalAnswer>{clickReject, pressEscape, [](QWidget *box) { box->close(); }}) {
		const auto records = answerModals(answer, [&] { velkin->loadSnapshot(path); });
		ASSERT_EQ(records.size(), 1);
		EXPECT_EQ(records[0].text,
			  localeText("MissingDocks").arg(QStringLiteral("goneDock, ScenesDock, goneDock")));
		EXPECT_EQ(records[0].defaultButton, localeText("Cancel"));
		EXPECT_EQ(window->saveState(0), before);
		EXPECT_TRUE(probe(velkin).last().isEmpty());
		EXPECT_EQ(list.currentRow(), 1);
	}
	answerModals(clickAccept, [&] { velkin->loadSnapshot(path); });
	QApplication::processEvents();
	EXPECT_EQ(window->saveState(0), data.state);
	EXPECT_EQ(probe(velkin).last(), path);
	EXPECT_EQ(list.currentRow(), 0);
}

TEST_F(CaptureRestoreTest, RefusedGeometryOrStateRollsBack)
{
	const QRect rect = window->geometry();
	const QByteArray before = window->saveState(0);
	SnapshotData data = captureLayout(window, QStringLiteral("Bad"));
	rearrange();
	const QRect rearrangedRect = window->geometry();
	const QByteArray rearranged = window->saveState(0);

	// A geometry blob with a wrong magic number: the state is never tried. The state itself is good and would
	// float statsDock out and dock mixerDock again; the rollback would hide that, the docks' signals do not.
	SnapshotData badGeometry = data;
	badGeometry.geometry = QByteArray(66, '\x07');
	ASSERT_EQ(writeSnapshotFile(pathOf(QStringLiteral("Bad.json")), badGeometry), SnapshotIoResult::Ok);
	int floatingChanges = 0;
	QObject watch;
	for (const char *name : {"statsDock", "mixerDock"}) {
		QObject::connect(dock(name), &QDockWidget::topLevelChanged, &watch, [&] { ++floatingChanges; });
	}
	auto records = answerModals(clickOk, [&] { velkin->loadSnapshot(pathOf(QStringLiteral("Bad.json"))); });
	EXPECT_EQ(floatingChanges, 0) << "the state was tried after the geometry was refused";
	ASSERT_EQ(records.size(), 1);
	// The box and the log line say why.
	const QString geometryReason = localeText("RefusedGeometry");
	EXPECT_EQ(records[0].text, localeText("RestoreFailed") + QStringLiteral("\n\n") + geometryReason);
	EXPECT_EQ(testhost::countLogLines(QStringLiteral("[obs-velkin] RestoreFailed: ") + geometryReason), 1);
	EXPECT_EQ(window->saveState(0), rearranged);
	EXPECT_EQ(window->geometry(), rearrangedRect);
	EXPECT_TRUE(probe(velkin).last().isEmpty());

	// A state with a wrong marker after an accepted geometry: the geometry goes back too.
	SnapshotData badState = data;
	badState.state = QByteArray("\x00\x00\x00\xffnot a state", 15);
	ASSERT_EQ(writeSnapshotFile(pathOf(QStringLiteral("Bad.json")), badState), SnapshotIoResult::Ok);
	records = answerModals(clickOk, [&] { velkin->loadSnapshot(pathOf(QStringLiteral("Bad.json"))); });
	ASSERT_EQ(records.size(), 1);
	EXPECT_EQ(records[0].text, localeText("RestoreFailed") + QStringLiteral("\n\n") + localeText("RefusedState"));
	EXPECT_EQ(window->geometry(), rearrangedRect);
	EXPECT_EQ(window->saveState(0), rearranged);
	EXPECT_NE(rect, rearrangedRect);
	EXPECT_NE(before, rearranged);
}

// Qt moves a restored geometry onto the screen; the rollback puts a normal window back exactly where it was, also
// with Qt::WindowActive set, as OBS leaves it once it has come back from the tray.
TEST_F(CaptureRestoreTest, ARefusedLoadPutsANormalWindowBackWherePartlyOffTheScreenWhateverFlagsItHas)
{
	SnapshotData badState = captureLayout(window, QStringLiteral("Bad"));
	badState.state = QByteArray("\x00\x00\x00\xffnot a state", 15);
	const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
	for (const Qt::WindowStates state : {Qt::WindowStates(Qt::WindowNoState), Qt::WindowStates(Qt::WindowActive)}) {
		window->setWindowState(Qt::WindowNoState);
		window->setGeometry(screen.right() - 300, screen.top() + 200, 800, 600);
		window->setWindowState(state);
		QApplication::processEvents();
		ASSERT_EQ(window->windowState(), state);
		const QRect rect = window->geometry();
		EXPECT_FALSE(applyLayout(window, badState));
		QApplication::processEvents();
		EXPECT_EQ(window->geometry(), rect) << "state " << state.toInt();
	}
}

// Blobs that Qt would crash or overflow on never reach it: the load is refused and the window keeps its layout.
TEST_F(CaptureRestoreTest, BlobsThatWouldHarmQtAreRefusedBeforeQtSeesThem)
{
	const SnapshotData good = captureLayout(window, QStringLiteral("Good"));
	// A window without tool bars saves its dock areas first: the version marker, the version, the areas' marker
	// and count, then each area's side.
	ASSERT_EQ(quint8(good.state.at(8)), 0xfd);
	ASSERT_TRUE(safeToRestore(good.geometry, good.state));
	const auto withInt = [](QByteArray bytes, int offset, qint32 value) {
		qToBigEndian(value, bytes.data() + offset);
		return bytes;
	};
	QByteArray deep;
	{
		QDataStream out(&deep, QIODevice::WriteOnly);
		out << qint32(0xff) << qint32(0) << quint8(0xfd) << qint32(1) << qint32(1) << QSize(300, 300);
		for (int depth = 0; depth < 100; ++depth) {
			out << quint8(0xfc) << quint8(1) << qint32(1) << quint8(0xfc) << qint32(0) << qint32(100)
			    << qint32(0) << qint32(0);
		}
	}
	// A floating dock in the left area whose right edge lies past the last int.
	QByteArray farOff;
	{
		QDataStream out(&farOff, QIODevice::WriteOnly);
		out << qint32(0xff) << qint32(0) << quint8(0xfd) << qint32(1) << qint32(1) << QSize(300, 300)
		    << quint8(0xfc) << quint8(1) << qint32(1) << quint8(0xfb) << QStringLiteral("statsDock") << quint8(3)
		    << qint32(392) << qint32(10) << qint32(2147483646) << qint32(300);
	}
	const struct {
		const char *what;
		QByteArray geometry;
		QByteArray state;
	} cases[] = {
		{"a floating dock two billion pixels wide", good.geometry, farOff},
		{"a dock area on side 4", good.geometry, withInt(good.state, 13, 4)},
		{"a dock area on side -1", good.geometry, withInt(good.state, 13, -1)},
		{"a dock area on side 2147483647", good.geometry, withInt(good.state, 13, 2147483647)},
		{"sequences nested 100 deep", good.geometry, deep},
		// The frame's right edge, two billion pixels away.
		{"a window two billion pixels wide", withInt(good.geometry, 16, 2000000000), good.state},
		// The inner rectangle's left edge, two billion pixels left of its right one.
		{"an inner window whose edges lie two billion pixels apart", withInt(good.geometry, 50, -2147483647),
		 good.state},
	};
	rearrange();
	const QByteArray state = window->saveState(0);
	const QRect rect = window->geometry();
	for (const auto &bad : cases) {
		SnapshotData data = good;
		data.geometry = bad.geometry;
		data.state = bad.state;
		EXPECT_FALSE(safeToRestore(data.geometry, data.state)) << bad.what;
		LayoutRefusal refusal = LayoutRefusal::None;
		EXPECT_FALSE(applyLayout(window, data, nullptr, &refusal)) << bad.what;
		EXPECT_EQ(refusal, LayoutRefusal::OutOfRange) << bad.what;
		EXPECT_EQ(window->saveState(0), state) << bad.what;
		EXPECT_EQ(window->geometry(), rect) << bad.what;
	}
}

// Every refusal that remains says why: the reason names the part of the snapshot that the window did not take,
// and a load nobody watched logs it after the file's path.
TEST_F(CaptureRestoreTest, ARefusalSaysWhy)
{
	const SnapshotData good = captureLayout(window, QStringLiteral("Good"));
	QByteArray otherVersion = good.state;
	qToBigEndian(qint32(1), otherVersion.data() + 4);
	const struct {
		const char *what;
		QByteArray geometry;
		QByteArray state;
		LayoutRefusal refusal;
		const char *key;
	} cases[] = {
		{"no dock state", good.geometry, QByteArray(), LayoutRefusal::Empty, "RefusedEmpty"},
		{"no geometry", QByteArray(), good.state, LayoutRefusal::Empty, "RefusedEmpty"},
		{"a geometry of another magic number", QByteArray(66, '\x07'), good.state, LayoutRefusal::Geometry,
		 "RefusedGeometry"},
		{"a geometry of three bytes", good.geometry.left(3), good.state, LayoutRefusal::Geometry,
		 "RefusedGeometry"},
		{"a state saved under version 1", good.geometry, otherVersion, LayoutRefusal::StateVersion,
		 "RefusedStateVersion"},
		{"a state of another marker", good.geometry, QByteArray("\x00\x00\x00\xfe\x00\x00\x00\x00", 8),
		 LayoutRefusal::State, "RefusedState"},
		{"a state cut in half", good.geometry, good.state.left(good.state.size() / 2), LayoutRefusal::State,
		 "RefusedState"},
	};
	rearrange();
	const QByteArray state = window->saveState(0);
	for (const auto &c : cases) {
		SnapshotData data = good;
		data.geometry = c.geometry;
		data.state = c.state;
		LayoutRefusal refusal = LayoutRefusal::None;
		EXPECT_FALSE(applyLayout(window, data, nullptr, &refusal)) << c.what;
		EXPECT_EQ(refusal, c.refusal) << c.what;
		EXPECT_EQ(window->saveState(0).toHex().toStdString(), state.toHex().toStdString()) << c.what;
		// Each reason has a sentence of its own.
		EXPECT_STREQ(refusalKey(refusal), c.key) << c.what;
		EXPECT_NE(localeText(c.key), QString::fromLatin1(c.key)) << c.what;

		// A snapshot file never holds an empty blob: the document refuses it.
		if (c.refusal == LayoutRefusal::Empty) {
			continue;
		}
		ASSERT_EQ(writeSnapshotFile(pathOf(QStringLiteral("Bad.json")), data), SnapshotIoResult::Ok) << c.what;
		testhost::clearLog();
		EXPECT_EQ(velkin->loadSnapshot(pathOf(QStringLiteral("Bad.json")), LoadSource::Remote),
			  LoadResult::RestoreFailed)
			<< c.what;
		EXPECT_EQ(testhost::countLogLines(QStringLiteral("[obs-velkin] RestoreFailed: ") +
						  pathOf(QStringLiteral("Bad.json")) + QStringLiteral(": ") +
						  localeText(c.key)),
			  1)
			<< c.what;
	}
}

// OBS hidden in the tray still takes hotkeys. A maximized layout too large for the hidden window is kept aside by
// Qt until the window is shown; a second load before that must not leave it pointing at freed layout items.
TEST_F(CaptureRestoreTest, TwoLoadsIntoAHiddenWindowSurviveShowingIt)
{
	addLayoutSnapshots({QStringLiteral("Small")});
	const QByteArray small = window->saveState(0);
	{
		QMainWindow wide;
		addTestDocks(&wide, false);
		wide.resize(3000, 2000);
		wide.setWindowState(Qt::WindowMaximized);
		QApplication::processEvents();
		SnapshotData data = captureLayout(&wide, QStringLiteral("Wide"));
		ASSERT_EQ(writeSnapshotFile(path(QStringLiteral("Wide")), data), SnapshotIoResult::Ok);
	}
	window->hide();
	QApplication::processEvents();
	for (const char *name : {"Wide", "Small", "Wide", "Wide", "Small"}) {
		const auto records =
			answerModals(clickOk, [&] { velkin->loadSnapshot(path(QString::fromLatin1(name))); });
		EXPECT_TRUE(records.isEmpty()) << name;
	}
	window->show();
	QApplication::processEvents();
	EXPECT_EQ(probe(velkin).last(), path(QStringLiteral("Small")));
	EXPECT_EQ(window->saveState(0), small);
}

TEST_F(CaptureRestoreTest, NothingElseRunsWhileAPromptIsOpen)
{
	const QString first = saveNew(QStringLiteral("First"));
	rearrange();
	const QString second = saveNew(QStringLiteral("Second"));
	probe(velkin).last().clear();

	// A load queued from a hotkey arrives while the question is open: it does nothing.
	SnapshotData data;
	ASSERT_EQ(readSnapshotFile(first, data), SnapshotIoResult::Ok);
	data.docks.append(QStringLiteral("goneDock"));
	ASSERT_EQ(writeSnapshotFile(first, data), SnapshotIoResult::Ok);
	auto records = answerModals(
		[&](QWidget *box) {
			QMetaObject::invokeMethod(
				velkin, [this, second] { velkin->loadSnapshot(second); }, Qt::QueuedConnection);
			QTest::qWait(50);
			EXPECT_TRUE(probe(velkin).last().isEmpty());
			clickReject(box);
		},
		[&] { velkin->loadSnapshot(first); });
	EXPECT_EQ(records.size(), 1);
	EXPECT_TRUE(probe(velkin).last().isEmpty());
	EXPECT_FALSE(probe(velkin).busy());

	// The same inside the name prompt; Save New itself goes on afterwards.
	records = answerModals(
		[&](QWidget *prompt) {
			QMetaObject::invokeMethod(
				velkin, [this, second] { velkin->loadSnapshot(second); }, Qt::QueuedConnection);
			QMetaObject::invokeMethod(
				velkin, [this] { velkin->saveNewSnapshot(); }, Qt::QueuedConnection);
			QTest::qWait(50);
			typeName(QStringLiteral("Third"))(prompt);
		},
		[&] { velkin->saveNewSnapshot(); });
	EXPECT_EQ(records.size(), 1);
	EXPECT_EQ(probe(velkin).last(), pathOf(QStringLiteral("Third.json")));

	// A shutdown while the question is open turns Continue into Cancel: the final save has no new last.
	probe(velkin).last().clear();
	const QByteArray layout = window->saveState(0);
	answerModals(
		[&](QWidget *box) {
			velkin->shutdown();
			clickAccept(box);
		},
		[&] { velkin->loadSnapshot(first); });
	EXPECT_TRUE(probe(velkin).last().isEmpty());
	EXPECT_EQ(window->saveState(0), layout);
	EXPECT_EQ(QJsonDocument::fromJson(readTestBytes(settingsPath())).object().value(QStringLiteral("last")),
		  QJsonValue(QString()));
}

TEST_F(CaptureRestoreTest, SaveNewReopensThePromptWithTheCleanedText)
{
	saveNew(QStringLiteral("Scene A"));
	const auto records = answerModals(inOrder({typeName(QStringLiteral("  scene a  ")), clickOk,
						   typeName(QStringLiteral("Live.")), clickOk, clickReject}),
					  [&] { velkin->saveNewSnapshot(); });
	ASSERT_EQ(records.size(), 5);
	EXPECT_TRUE(records[0].isPrompt);
	EXPECT_EQ(records[0].title, localeText("Title"));
	EXPECT_EQ(records[0].text, localeText("NamePrompt"));
	EXPECT_EQ(records[0].buttons, (QStringList{localeText("Save"), localeText("Cancel")}));
	EXPECT_EQ(records[1].text, localeText("DuplicateName"));
	EXPECT_EQ(records[2].value, QStringLiteral("scene a"));
	EXPECT_EQ(records[3].text, localeText("InvalidName"));
	EXPECT_EQ(records[4].value, QStringLiteral("Live."));
	EXPECT_EQ(QDir(snapshotDirectory()).entryList(QDir::Files), QStringList{QStringLiteral("Scene A.json")});

	// A decomposed name is stored in NFC.
	const QString path = saveNew(QStringLiteral("Cafe\u0301 Talk"));
	EXPECT_EQ(path, pathOf(QStringLiteral("Caf\u00e9 Talk.json")));
}

TEST_F(CaptureRestoreTest, WhatTheFolderGainsWhileThePromptIsOpenIsSeenBySaveNew)
{
	struct Case {
		const char *what;
		int before;          // documents in the folder when Save New starts
		QStringList arrives; // names written while the prompt is open
		const char *report;  // what the accepted name "Fresh" meets, or nothing
	};
	const QList<Case> cases = {
		{"a document of the same name", 0, {QStringLiteral("fresh")}, "DuplicateName"},
		{"the thousandth document", 999, {QStringLiteral("Last one")}, "SnapshotLimit"},
		{"other documents", 2, {QStringLiteral("Extra A"), QStringLiteral("Extra B")}, nullptr},
	};
	for (const Case &test : cases) {
		SCOPED_TRACE(test.what);
		QDir(snapshotDirectory()).removeRecursively();
		QDir().mkpath(snapshotDirectory());
		for (int i = 0; i < test.before; ++i) {
			writeTestDocument(snapshotDirectory(), QStringLiteral("S%1.json").arg(i),
					  QStringLiteral("S%1").arg(i));
		}
		QListWidget list;
		probe(velkin).snapshotList() = &list;
		probe(velkin).last().clear();
		const auto records =
			answerModals(inOrder({[&](QWidget *prompt) {
						      for (const QString &name : test.arrives) {
							      writeTestDocument(snapshotDirectory(),
										name + QStringLiteral(".json"), name);
						      }
						      typeName(QStringLiteral("Fresh"))(prompt);
					      },
					      clickOk, clickReject}),
				     [&] { velkin->saveNewSnapshot(); });
		const int documents = test.before + int(test.arrives.size());
		if (test.report) {
			ASSERT_GE(records.size(), 2);
			EXPECT_EQ(records[1].text, localeText(test.report));
			EXPECT_FALSE(QFile::exists(pathOf(QStringLiteral("Fresh.json"))));
		} else {
			EXPECT_EQ(probe(velkin).last(), pathOf(QStringLiteral("Fresh.json")));
			// The list after the save shows what arrived, with the times on disk.
			ASSERT_EQ(list.count(), documents + 1);
			for (int row = 0; row < list.count(); ++row) {
				const QString path = list.item(row)->data(kPathRole).toString();
				EXPECT_EQ(list.item(row)->data(kModifiedRole).toString(),
					  modifiedText(QFileInfo(path).lastModified()))
					<< path.toStdString();
			}
		}
		probe(velkin).snapshotList() = nullptr;
	}
}

TEST_F(CaptureRestoreTest, LimitStopsSaveNewBeforeThePromptButNotOverwrite)
{
	for (int i = 0; i < 1000; ++i) {
		writeTestDocument(snapshotDirectory(), QStringLiteral("S%1.json").arg(i), QStringLiteral("S%1").arg(i));
	}
	auto records = answerModals(clickOk, [&] { velkin->saveNewSnapshot(); });
	ASSERT_EQ(records.size(), 1);
	EXPECT_FALSE(records[0].isPrompt);
	EXPECT_EQ(records[0].text, localeText("SnapshotLimit"));

	QListWidget list;
	probe(velkin).snapshotList() = &list;
	velkin->refreshSnapshotList(pathOf(QStringLiteral("S5.json")));
	records = answerModals(clickAccept, [&] { velkin->overwriteSnapshot(); });
	ASSERT_EQ(records.size(), 1);
	EXPECT_EQ(records[0].text, localeText("ConfirmOverwrite").arg(QStringLiteral("S5")));
	EXPECT_EQ(records[0].defaultButton, localeText("Cancel"));
	EXPECT_EQ(probe(velkin).last(), pathOf(QStringLiteral("S5.json")));
	SnapshotData data;
	ASSERT_EQ(readSnapshotFile(probe(velkin).last(), data), SnapshotIoResult::Ok);
	EXPECT_EQ(data.state, window->saveState(0));
}

TEST_F(CaptureRestoreTest, OverwriteMovesAHandNamedFileToItsStoredName)
{
	writeTestDocument(snapshotDirectory(), QStringLiteral("copy of talk.json"), QStringLiteral("Talk"));
	writeTestDocument(snapshotDirectory(), QStringLiteral("First.json"), QStringLiteral("First"));
	probe(velkin).snapshotOrder() = {QStringLiteral("First.json"), QStringLiteral("copy of talk.json")};
	probe(velkin).last() = pathOf(QStringLiteral("copy of talk.json"));
	QListWidget list;
	probe(velkin).snapshotList() = &list;
	velkin->refreshSnapshotList(pathOf(QStringLiteral("copy of talk.json")));

	// Cancel changes nothing.
	const QByteArray old = readTestBytes(pathOf(QStringLiteral("copy of talk.json")));
	answerModals(clickReject, [&] { velkin->overwriteSnapshot(); });
	EXPECT_EQ(readTestBytes(pathOf(QStringLiteral("copy of talk.json"))), old);

	answerModals(clickAccept, [&] { velkin->overwriteSnapshot(); });
	EXPECT_EQ(QDir(snapshotDirectory()).entryList(QDir::Files),
		  (QStringList{QStringLiteral("First.json"), QStringLiteral("Talk.json")}));
	EXPECT_EQ(probe(velkin).snapshotOrder(),
		  (QStringList{QStringLiteral("First.json"), QStringLiteral("Talk.json")}));
	EXPECT_EQ(probe(velkin).last(), pathOf(QStringLiteral("Talk.json")));
	EXPECT_EQ(probe(velkin).selectedSnapshotPath(), pathOf(QStringLiteral("Talk.json")));
	const QJsonObject saved = QJsonDocument::fromJson(readTestBytes(settingsPath())).object();
	EXPECT_EQ(saved.value(QStringLiteral("last")).toString(), pathOf(QStringLiteral("Talk.json")));
}

TEST_F(CaptureRestoreTest, StoreFailuresLoseNothing)
{
	const QString talk =
		writeTestDocument(snapshotDirectory(), QStringLiteral("talk.json"), QStringLiteral("Talk"));
	const QByteArray before = readTestBytes(talk);
	probe(velkin).last() = talk;
	probe(velkin).snapshotOrder() = {QStringLiteral("talk.json")};
	SnapshotData data = captureLayout(window, QStringLiteral("Talk"));

	// The folder refuses new entries: the move to the stored name fails, the file stays where it was.
	VELKIN_REQUIRE_FACILITY(
		QProcess::execute(QStringLiteral("chattr"), {QStringLiteral("+i"), snapshotDirectory()}) == 0,
		"chattr");
	QString written;
	auto records = answerModals(clickOk, [&] { written = probe(velkin).storeSnapshot(data, talk); });
	QProcess::execute(QStringLiteral("chattr"), {QStringLiteral("-i"), snapshotDirectory()});
	EXPECT_TRUE(written.isEmpty());
	ASSERT_EQ(records.size(), 1);
	EXPECT_EQ(records[0].text, localeText("RenameFailed") + QStringLiteral("\n\n") + talk);
	EXPECT_EQ(readTestBytes(talk), before);

	// A snapshot folder that only takes new entries (append-only): the file moves in from elsewhere, but the
	// write cannot replace it and the move back cannot take it out again. It lives on under the new name,
	// and its references follow it there.
	const QString elsewhere = testhost::scratchDirectory() + QStringLiteral("/elsewhere");
	QDir().mkpath(elsewhere);
	const QString outside = writeTestDocument(elsewhere, QStringLiteral("outside.json"), QStringLiteral("Talk"));
	const QByteArray outsideBefore = readTestBytes(outside);
	ASSERT_TRUE(QFile::remove(talk));
	probe(velkin).last() = outside;
	probe(velkin).snapshotOrder() = {QStringLiteral("outside.json")};
	QProcess::execute(QStringLiteral("chattr"), {QStringLiteral("+a"), snapshotDirectory()});
	records = answerModals(clickOk, [&] { written = probe(velkin).storeSnapshot(data, outside); });
	QProcess::execute(QStringLiteral("chattr"), {QStringLiteral("-a"), snapshotDirectory()});
	EXPECT_TRUE(written.isEmpty());
	const QString target = pathOf(QStringLiteral("Talk.json"));
	ASSERT_EQ(records.size(), 2);
	EXPECT_EQ(records[0].text, localeText("WriteFailed") + QStringLiteral("\n\n") + target);
	EXPECT_EQ(records[1].text, localeText("RenameFailed") + QStringLiteral("\n\n") + target);
	EXPECT_EQ(readTestBytes(target), outsideBefore);
	EXPECT_EQ(probe(velkin).last(), target);
	EXPECT_EQ(probe(velkin).snapshotOrder(), QStringList{QStringLiteral("Talk.json")});
	EXPECT_EQ(QJsonDocument::fromJson(readTestBytes(settingsPath()))
			  .object()
			  .value(QStringLiteral("last"))
			  .toString(),
		  target);
}

TEST_F(CaptureRestoreTest, WriteFailureOnAFullDiskMovesTheFileBack)
{
	const SmallDisk disk(snapshotDirectory(), "64k");
	VELKIN_REQUIRE_FACILITY(disk.mounted, "a tmpfs mount");
	const QString hand =
		writeTestDocument(snapshotDirectory(), QStringLiteral("by hand.json"), QStringLiteral("Talk"));
	const QByteArray before = readTestBytes(hand);
	{
		QFile filler(pathOf(QStringLiteral("filler")));
		ASSERT_TRUE(filler.open(QIODevice::WriteOnly));
		const QByteArray block(1024, 'f');
		while (filler.write(block) == block.size() && filler.flush()) {
		}
	}
	SnapshotData big = captureLayout(window, QStringLiteral("Talk"));
	big.state = QByteArray(100 * 1024, 's');
	QString written;
	const auto records = answerModals(clickOk, [&] { written = probe(velkin).storeSnapshot(big, hand); });
	EXPECT_TRUE(written.isEmpty());
	ASSERT_EQ(records.size(), 1);
	EXPECT_EQ(records[0].text,
		  localeText("WriteFailed") + QStringLiteral("\n\n") + pathOf(QStringLiteral("Talk.json")));
	EXPECT_EQ(readTestBytes(hand), before);
	EXPECT_FALSE(QFileInfo::exists(pathOf(QStringLiteral("Talk.json"))));
}

} // namespace
