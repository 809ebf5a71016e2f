#include "support/Facility.hpp"
#include "support/ControllerTest.hpp"
#include "support/Documents.hpp"
#include "support/DockWindow.hpp"
#include "support/Modal.hpp"

#include <QAction>
#include <QDialog>
#include <QGridLayout>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QElapsedTimer>
#include <QProcess>
#include <QProxyStyle>
#include <QPushButton>
#include <QScrollBar>
#include <QShortcut>
#include <QStyle>
#include <QTest>

extern "C" void obs_module_set_pointer(obs_module_t *module);

namespace {

// Gives push buttons and line edits fixed natural heights, and layouts a fixed spacing.
class SizedStyle : public QProxyStyle {
public:
	SizedStyle(int buttonHeight, int lineEditHeight, int spacing)
	    : QProxyStyle(QStringLiteral("Fusion")), buttonHeight(buttonHeight), lineEditHeight(lineEditHeight),
	      spacing(spacing)
	{
	}

	QSize sizeFromContents(ContentsType type, const QStyleOption *option, const QSize &size,
			       const QWidget *widget) const override
	{
		QSize result = QProxyStyle::sizeFromContents(type, option, size, widget);
		if (type == CT_PushButton) {
			result.setHeight(buttonHeight);
		} else if (type == CT_LineEdit) {
			result.setHeight(lineEditHeight);
		}
		return result;
	}

	int pixelMetric(PixelMetric metric, const QStyleOption *option, const QWidget *widget) const override
	{
		if (metric == PM_LayoutHorizontalSpacing || metric == PM_LayoutVerticalSpacing) {
			return spacing;
		}
		return QProxyStyle::pixelMetric(metric, option, widget);
	}

private:
	const int buttonHeight;
	const int lineEditHeight;
	const int spacing;
};

class DialogTest : public ControllerTest {
protected:
	void SetUp() override
	{
		ControllerTest::SetUp();
		addTestDocks(window, false);
		QDir().mkpath(snapshotDirectory());
		makeController();
		probe(velkin).ready() = true;
	}

	// Stores the current layout under each name, in this order.
	void addSnapshots(const QStringList &names)
	{
		addLayoutSnapshots(names);
		for (const QString &name : names) {
			probe(velkin).snapshotOrder().append(name + QStringLiteral(".json"));
		}
	}

	void show()
	{
		velkin->showManagerDialog();
		ASSERT_TRUE(probe(velkin).managerDialog());
		ASSERT_TRUE(QTest::qWaitForWindowExposed(probe(velkin).managerDialog()));
		probe(velkin).managerDialog()->activateWindow();
		QApplication::processEvents();
	}

	QListWidget *list() const { return probe(velkin).snapshotList(); }
	QLineEdit *search() const { return probe(velkin).searchEdit(); }
	QLabel *notice() const { return probe(velkin).notFoundLabel(); }

	QPushButton *button(const char *key) const
	{
		for (QPushButton *b : probe(velkin).managerDialog()->findChildren<QPushButton *>()) {
			if (b->text() == localeText(key)) {
				return b;
			}
		}
		return nullptr;
	}

	void typeSearch(const QString &text)
	{
		search()->clear();
		QTest::keyClicks(search(), text);
	}

	QString currentText() const { return list()->currentItem() ? list()->currentItem()->text() : QString(); }
};

TEST_F(DialogTest, DialogIsBuiltOnceWithEqualHeightsAndAListAsTallAsSevenButtons)
{
	addSnapshots({QStringLiteral("One"), QStringLiteral("Two")});
	show();
	QPointer<QDialog> dialog = probe(velkin).managerDialog();
	EXPECT_FALSE(dialog->isModal());
	EXPECT_EQ(dialog->windowTitle(), localeText("Title"));
	EXPECT_EQ(dialog->parent(), window.data());
	show();
	EXPECT_EQ(probe(velkin).managerDialog().data(), dialog.data());
	EXPECT_EQ(dialog->findChildren<QPushButton *>().size(), 8);
	EXPECT_EQ(dialog->findChildren<QShortcut *>().size(), 3);
	EXPECT_EQ(dialog->findChildren<QListWidget *>().size(), 1);
	EXPECT_EQ(dialog->actions().size(), 1);
	EXPECT_EQ(probe(velkin).selectionButtons().size(), 5);

	// The search line and every button take the taller of the two natural heights; the list spans the seven
	// button rows below the search line, with the six gaps between them.
	struct Case {
		const char *what;
		int buttonHint;
		int searchHint;
		int spacing;
		int height;
		int listHeight;
	};
	const Case cases[] = {
		{"buttons taller", 30, 24, 6, 30, 246},
		{"search line taller", 20, 33, 4, 33, 255},
		{"equal, no spacing", 25, 25, 0, 25, 175},
	};
	const QString styleName = QApplication::style()->name();
	for (const Case &test : cases) {
		SCOPED_TRACE(test.what);
		delete probe(velkin).managerDialog().data();
		QApplication::setStyle(new SizedStyle(test.buttonHint, test.searchHint, test.spacing));
		show();
		dialog = probe(velkin).managerDialog();
		ASSERT_TRUE(dialog);
		EXPECT_EQ(search()->height(), test.height);
		for (QPushButton *b : dialog->findChildren<QPushButton *>()) {
			EXPECT_EQ(b->height(), test.height) << b->text().toStdString();
		}
		EXPECT_EQ(list()->height(), test.listHeight);
		EXPECT_EQ(list()->y(), button("Overwrite")->y());
	}
	const int listHeight = cases[std::size(cases) - 1].listHeight;
	const int listWidth = list()->width();

	dialog->resize(900, 800);
	QApplication::processEvents();
	EXPECT_EQ(list()->height(), listHeight) << "extra height goes to the stretch";
	EXPECT_GT(list()->width(), listWidth);
	QApplication::setStyle(styleName);
	EXPECT_EQ(list()->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
	EXPECT_EQ(list()->dragDropMode(), QAbstractItemView::InternalMove);
	ASSERT_FALSE(list()->actions().isEmpty());
	EXPECT_EQ(list()->actions().last()->text(), localeText("OpenFolder"));
	EXPECT_EQ(list()->contextMenuPolicy(), Qt::ActionsContextMenu);
}

TEST_F(DialogTest, AboutLineEscapesTheAuthorAndLinksTheHelpPage)
{
	show();
	QLabel *about = nullptr;
	for (QLabel *label : probe(velkin).managerDialog()->findChildren<QLabel *>()) {
		if (label->text().startsWith(
			    QStringLiteral("OBS-Velkin %1 \u00b7 ").arg(QLatin1String(kModuleVersion)))) {
			about = label;
		}
	}
	ASSERT_NE(about, nullptr);
	EXPECT_EQ(about->textFormat(), Qt::RichText);
	EXPECT_TRUE(about->openExternalLinks());
	EXPECT_TRUE(about->text().contains(localeText("Author").toHtmlEscaped()));
	const QString link = QStringLiteral("<a href=\"%1\">")
				     .arg(QUrl::fromLocalFile(QStringLiteral(VELKIN_DATA_DIR "/help.html")).toString());
	EXPECT_TRUE(about->text().contains(link + localeText("HelpLink") + QStringLiteral("</a>")))
		<< about->text().toStdString();
	EXPECT_NE(localeText("HelpLink"), QStringLiteral("HelpLink")) << "the link text comes from the locale";
}

TEST_F(DialogTest, AboutLineHasNoDeadLinkWithoutTheHelpPage)
{
	// Without a module handle no data file is found, as when help.html is missing from an install.
	obs_module_set_pointer(nullptr);
	show();
	obs_module_set_pointer(testhost::module());
	QStringList texts;
	for (QLabel *label : probe(velkin).managerDialog()->findChildren<QLabel *>()) {
		texts.append(label->text());
	}
	const QString about = QStringLiteral("OBS-Velkin %1 \u00b7 ").arg(QLatin1String(kModuleVersion)) +
			      localeText("Author").toHtmlEscaped();
	EXPECT_TRUE(texts.contains(about)) << texts.join(QLatin1Char('\n')).toStdString();
	EXPECT_TRUE(texts.filter(QStringLiteral("<a ")).isEmpty());
}

// F2 is the list's rename key, also on the Qt of OBS 32; the view itself never edits a row in place.
TEST_F(DialogTest, F2OnTheListOpensTheRenamePrompt)
{
	addSnapshots({QStringLiteral("One"), QStringLiteral("Two")});
	show();
	list()->setCurrentRow(1);
	list()->setFocus();
	const auto records = answerModals(clickReject, [&] { QTest::keyClick(list(), Qt::Key_F2); });
	ASSERT_EQ(records.size(), 1);
	EXPECT_TRUE(records[0].isPrompt);
	EXPECT_EQ(records[0].value, QStringLiteral("Two"));
	EXPECT_EQ(list()->editTriggers(), QAbstractItemView::NoEditTriggers);
}

TEST_F(DialogTest, ShowingNeedsAReadyIdleControllerAndUnminimisesTheWindow)
{
	probe(velkin).busy() = true;
	velkin->showManagerDialog();
	EXPECT_TRUE(probe(velkin).managerDialog().isNull());
	probe(velkin).busy() = false;
	probe(velkin).ready() = false;
	velkin->showManagerDialog();
	EXPECT_TRUE(probe(velkin).managerDialog().isNull());
	probe(velkin).ready() = true;

	window->setWindowState(Qt::WindowMaximized | Qt::WindowMinimized);
	velkin->showManagerDialog();
	ASSERT_TRUE(probe(velkin).managerDialog());
	EXPECT_EQ(window->windowState(), Qt::WindowMaximized);

	velkin->shutdown();
	EXPECT_TRUE(probe(velkin).managerDialog().isNull());
	velkin->showManagerDialog();
	EXPECT_TRUE(probe(velkin).managerDialog().isNull());
}

TEST_F(DialogTest, ShowingRefreshesSelectsTheLastSnapshotAndClearsTheSearch)
{
	addSnapshots({QStringLiteral("One"), QStringLiteral("Two"), QStringLiteral("Three")});
	probe(velkin).last() = path(QStringLiteral("Two"));
	show();
	EXPECT_EQ(currentText(), QStringLiteral("Two"));
	typeSearch(QStringLiteral("nothing like it"));
	EXPECT_TRUE(notice()->isVisibleTo(probe(velkin).managerDialog()));
	probe(velkin).managerDialog()->hide();
	addSnapshots({QStringLiteral("Four")});
	show();
	EXPECT_EQ(list()->count(), 4);
	EXPECT_TRUE(search()->text().isEmpty());
	EXPECT_EQ(probe(velkin).managerDialog()->focusWidget(), search()) << "typing goes to the search line";
	EXPECT_FALSE(notice()->isVisibleTo(probe(velkin).managerDialog()));
}

TEST_F(DialogTest, SearchFindsNamesAndRowNumbers)
{
	addSnapshots({QStringLiteral("Intro"), QStringLiteral("GAMEPLAY Main"), QStringLiteral("Gameplay #2"),
		      QStringLiteral("Caf\u00e9 Talk")});
	show();
	list()->setCurrentRow(0);
	typeSearch(QStringLiteral("gameplay"));
	EXPECT_EQ(list()->currentRow(), 1) << "the upper of two matches";
	EXPECT_FALSE(notice()->isVisibleTo(probe(velkin).managerDialog()));
	typeSearch(QStringLiteral("#3"));
	EXPECT_EQ(list()->currentRow(), 2);

	for (const char *query : {"#0", "#-1", "#x", "#", "#999", "#2 extra", "zzz"}) {
		list()->setCurrentRow(3);
		search()->setText(QString::fromLatin1(query));
		EXPECT_TRUE(notice()->isVisibleTo(probe(velkin).managerDialog())) << query;
		EXPECT_EQ(list()->currentRow(), 3) << query;
	}
	// A name containing "#" is never found through "#": "#2" is row 2.
	typeSearch(QStringLiteral("#2"));
	EXPECT_EQ(list()->currentRow(), 1);
	search()->setText(QStringLiteral("  Cafe\u0301 "));
	EXPECT_EQ(list()->currentRow(), 3);
	EXPECT_FALSE(notice()->isVisibleTo(probe(velkin).managerDialog()));
	typeSearch(QStringLiteral("zzz"));
	search()->clear();
	EXPECT_FALSE(notice()->isVisibleTo(probe(velkin).managerDialog()));
	EXPECT_EQ(list()->currentRow(), 3);
}

TEST_F(DialogTest, ReturnInTheSearchLoadsTheBestMatchOnce)
{
	addSnapshots({QStringLiteral("Stream A"), QStringLiteral("Stream B"), QStringLiteral("Edit")});
	show();
	search()->setFocus();

	// The current row matches: it wins over the upper match.
	list()->setCurrentRow(1);
	QTest::keyClicks(search(), QStringLiteral("str"));
	list()->setCurrentRow(1);
	QTest::keyClick(search(), Qt::Key_Return);
	EXPECT_EQ(probe(velkin).last(), path(QStringLiteral("Stream B")));
	// The current row does not match: the first match loads.
	list()->setCurrentRow(2);
	QTest::keyClick(search(), Qt::Key_Enter);
	EXPECT_EQ(probe(velkin).last(), path(QStringLiteral("Stream A")));

	// An empty query loads the current row; with no current row nothing happens.
	search()->clear();
	list()->setCurrentRow(2);
	QTest::keyClick(search(), Qt::Key_Return);
	EXPECT_EQ(probe(velkin).last(), path(QStringLiteral("Edit")));
	probe(velkin).last().clear();
	list()->setCurrentItem(nullptr);
	QTest::keyClick(search(), Qt::Key_Return);
	EXPECT_TRUE(probe(velkin).last().isEmpty());

	// Held down: auto-repeated presses are swallowed. No match: no default button fires.
	list()->setCurrentRow(0);
	QKeyEvent repeat(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, QString(), true);
	QApplication::sendEvent(search(), &repeat);
	EXPECT_TRUE(probe(velkin).last().isEmpty());
	typeSearch(QStringLiteral("no such snapshot"));
	const auto records = answerModals(clickReject, [&] {
		QTest::keyClick(search(), Qt::Key_Return);
		QTest::qWait(50);
	});
	EXPECT_TRUE(records.isEmpty());
	EXPECT_TRUE(probe(velkin).last().isEmpty());
}

TEST_F(DialogTest, ListKeysWorkOnlyWithFocusAndFindWorksAnywhere)
{
	addSnapshots({QStringLiteral("One"), QStringLiteral("Two")});
	show();
	list()->setCurrentRow(1);
	button("Refresh")->setFocus();
	QTest::keyClick(button("Refresh"), Qt::Key_Return);
	EXPECT_TRUE(probe(velkin).last().isEmpty()) << "the list's Return needs the list's focus";

	list()->setFocus();
	QTest::keyClick(list(), Qt::Key_Return);
	EXPECT_EQ(probe(velkin).last(), path(QStringLiteral("Two")));

	search()->setText(QStringLiteral("Two"));
	button("Load")->setFocus();
	QTest::keySequence(button("Load"), QKeySequence::Find);
	EXPECT_TRUE(search()->hasFocus());
	EXPECT_EQ(search()->selectedText(), QStringLiteral("Two"));

	// Tab walks from the search line to the list and then down the buttons.
	search()->setFocus();
	QTest::keyClick(search(), Qt::Key_Tab);
	EXPECT_TRUE(list()->hasFocus());
	QTest::keyClick(list(), Qt::Key_Tab);
	EXPECT_TRUE(button("SaveNew")->hasFocus());
	QTest::keyClick(button("SaveNew"), Qt::Key_Tab);
	EXPECT_TRUE(button("Overwrite")->hasFocus());
	probe(velkin).last().clear();
	const QRect rect = list()->visualItemRect(list()->item(0));
	QTest::mouseClick(list()->viewport(), Qt::LeftButton, Qt::NoModifier, rect.center());
	QTest::mouseDClick(list()->viewport(), Qt::LeftButton, Qt::NoModifier, rect.center());
	EXPECT_EQ(probe(velkin).last(), path(QStringLiteral("One")));
}

TEST_F(DialogTest, SelectionButtonsFollowTheCurrentItem)
{
	show();
	const auto enabled = [this](const char *key) { return button(key)->isEnabled(); };
	for (const char *key : {"Overwrite", "Load", "Rename", "Delete", "Export"}) {
		EXPECT_FALSE(enabled(key)) << key;
	}
	for (const char *key : {"SaveNew", "Import", "Refresh"}) {
		EXPECT_TRUE(enabled(key)) << key;
	}
	addSnapshots({QStringLiteral("One")});
	QTest::mouseClick(button("Refresh"), Qt::LeftButton);
	ASSERT_EQ(list()->count(), 1);
	for (const char *key : {"Overwrite", "Load", "Rename", "Delete", "Export"}) {
		EXPECT_TRUE(enabled(key)) << key;
	}
	list()->setCurrentItem(nullptr);
	EXPECT_FALSE(enabled("Load"));
	QFile::remove(path(QStringLiteral("One")));
	QTest::mouseClick(button("Refresh"), Qt::LeftButton);
	EXPECT_EQ(list()->count(), 0);
	EXPECT_FALSE(enabled("Overwrite"));
}

TEST_F(DialogTest, ButtonsRunTheirOperations)
{
	addSnapshots({QStringLiteral("One")});
	show();
	auto records = answerModals(typeName(QStringLiteral("Two")),
				    [&] { QTest::mouseClick(button("SaveNew"), Qt::LeftButton); });
	ASSERT_EQ(records.size(), 1);
	EXPECT_EQ(records[0].parent, probe(velkin).managerDialog().data());
	EXPECT_EQ(currentText(), QStringLiteral("Two"));
	EXPECT_EQ(probe(velkin).last(), path(QStringLiteral("Two")));

	list()->setCurrentRow(0);
	records = answerModals(clickAccept, [&] { QTest::mouseClick(button("Overwrite"), Qt::LeftButton); });
	ASSERT_EQ(records.size(), 1);
	EXPECT_EQ(probe(velkin).last(), path(QStringLiteral("One")));
	list()->setCurrentRow(1);
	QTest::mouseClick(button("Load"), Qt::LeftButton);
	EXPECT_EQ(probe(velkin).last(), path(QStringLiteral("Two")));
}

TEST_F(DialogTest, DraggedOrderIsSavedAtOnceAndSurvivesARestart)
{
	addSnapshots({QStringLiteral("First"), QStringLiteral("Second"), QStringLiteral("Third")});
	show();
	ASSERT_EQ(list()->count(), 3);
	// The drop of an internal move arrives as a move of the model's rows.
	ASSERT_TRUE(list()->model()->moveRows(QModelIndex(), 2, 1, QModelIndex(), 0));
	EXPECT_EQ(probe(velkin).snapshotOrder(),
		  (QStringList{QStringLiteral("Third.json"), QStringLiteral("First.json"),
			       QStringLiteral("Second.json")}));
	const QJsonObject saved = QJsonDocument::fromJson(readTestBytes(settingsPath())).object();
	EXPECT_EQ(saved.value(QStringLiteral("snapshotOrder")).toArray().first().toString(),
		  QStringLiteral("Third.json"));

	delete velkin.data();
	makeController();
	probe(velkin).ready() = true;
	show();
	EXPECT_EQ(list()->item(0)->text(), QStringLiteral("Third"));
}

TEST_F(DialogTest, RealMouseDragReordersTheList)
{
	addSnapshots({QStringLiteral("First"), QStringLiteral("Second"), QStringLiteral("Third")});
	show();
	// Real pointer events through the X server, as a person would drag: the third row onto the first.
	const QPoint from = list()->viewport()->mapToGlobal(list()->visualItemRect(list()->item(2)).center());
	const QPoint to =
		list()->viewport()->mapToGlobal(list()->visualItemRect(list()->item(0)).topLeft() + QPoint(20, 2));
	QStringList steps{QStringLiteral("mousemove"), QString::number(from.x()), QString::number(from.y()),
			  QStringLiteral("mousedown"), QStringLiteral("1")};
	for (int i = 1; i <= 10; ++i) {
		const QPoint at = from + (to - from) * i / 10;
		steps << QStringLiteral("sleep") << QStringLiteral("0.05") << QStringLiteral("mousemove")
		      << QString::number(at.x()) << QString::number(at.y());
	}
	steps << QStringLiteral("sleep") << QStringLiteral("0.1") << QStringLiteral("mouseup") << QStringLiteral("1");
	QProcess xdotool;
	xdotool.start(QStringLiteral("xdotool"), steps);
	VELKIN_REQUIRE_FACILITY(xdotool.waitForStarted(), "xdotool");
	QElapsedTimer timer;
	timer.start();
	while (xdotool.state() != QProcess::NotRunning && timer.elapsed() < 10000) {
		QTest::qWait(20);
	}
	QTest::qWait(100);
	EXPECT_EQ(probe(velkin).snapshotOrder(),
		  (QStringList{QStringLiteral("Third.json"), QStringLiteral("First.json"),
			       QStringLiteral("Second.json")}));
	EXPECT_EQ(QJsonDocument::fromJson(readTestBytes(settingsPath()))
			  .object()
			  .value(QStringLiteral("snapshotOrder"))
			  .toArray()
			  .first()
			  .toString(),
		  QStringLiteral("Third.json"));
}

} // namespace
