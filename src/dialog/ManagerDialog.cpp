#include "base/Log.hpp"
#include "dialog/SnapshotDelegate.hpp"
#include "module/Module.hpp"
#include "module/Velkin.hpp"
#include "settings/SettingsFile.hpp"

#include <QAction>
#include <QDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMainWindow>
#include <QPushButton>
#include <QShortcut>
#include <QUrl>
#include <QVBoxLayout>

#include <util/util.hpp>

#include <algorithm>

namespace {

// The About line's link: a help page shipped in the plug-in's data folder.
constexpr char kHelpPage[] = "help.html";

QString aboutText()
{
	const QString about = QStringLiteral("OBS-Velkin %1 \u00b7 %2")
				      .arg(QString::fromLatin1(kModuleVersion), localeText("Author").toHtmlEscaped());
	BPtr<char> page = obs_find_module_file(velkinModule(), kHelpPage);
	if (!page) {
		// No page to open: the line carries no link rather than a dead one.
		return about;
	}
	const QString target = QUrl::fromLocalFile(QString::fromUtf8(page.Get())).toString(QUrl::FullyEncoded);
	return about + QStringLiteral(" \u00b7 <a href=\"%1\">%2</a>")
			       .arg(target.toHtmlEscaped(), localeText("HelpLink").toHtmlEscaped());
}

} // namespace

void Velkin::showManagerDialog()
{
	if (!ready || shuttingDown || busy || !mainWindow || !ensureSnapshotDirectory()) {
		return;
	}
	if (mainWindow->windowState() & Qt::WindowMinimized) {
		mainWindow->setWindowState(mainWindow->windowState() & ~Qt::WindowMinimized);
	}
	if (!managerDialog) {
		buildManagerDialog();
	}
	refreshSnapshotList(last);
	if (searchEdit) {
		searchEdit->clear();
	}
	managerDialog->show();
	managerDialog->raise();
	managerDialog->activateWindow();
	// Typing goes to the search line, not to whichever button comes first in the tab chain.
	if (searchEdit) {
		searchEdit->setFocus(Qt::OtherFocusReason);
	}
#ifdef VELKIN_TEST_PROBES
	reportDialogLayout();
#endif
}

QPushButton *Velkin::addDialogButton(QGridLayout *grid, int row, const char *key, bool needsSnapshot,
				     const std::function<void()> &operation)
{
	auto *button = new QPushButton(localeText(key), managerDialog);
	button->setAttribute(Qt::WA_LayoutUsesWidgetRect);
	QObject::connect(button, &QPushButton::clicked, this, operation);
	grid->addWidget(button, row, 1);
	if (needsSnapshot) {
		selectionButtons.append(button);
	}
	return button;
}

void Velkin::buildManagerDialog()
{
	selectionButtons.clear();
	managerDialog = new QDialog(mainWindow);
	managerDialog->setWindowTitle(localeText("Title"));
	managerDialog->resize(630, 400);
	auto *layout = new QVBoxLayout(managerDialog);

	auto *help = new QLabel(localeText("Help"));
	help->setWordWrap(true);
	layout->addWidget(help);

	auto *grid = new QGridLayout;
	grid->setSpacing(layout->spacing());
	grid->setColumnStretch(0, 1);

	auto *searchRow = new QHBoxLayout;
	searchEdit = new QLineEdit;
	searchEdit->setAttribute(Qt::WA_LayoutUsesWidgetRect);
	searchEdit->setPlaceholderText(localeText("SearchPrompt"));
	searchEdit->setAccessibleName(localeText("Search"));
	searchEdit->setClearButtonEnabled(true);
	searchEdit->installEventFilter(this);
	searchRow->addWidget(searchEdit, 1);
	notFoundLabel = new QLabel(localeText("SearchNotFound"));
	notFoundLabel->hide();
	searchRow->addWidget(notFoundLabel, 0);
	grid->addLayout(searchRow, 0, 0);

	snapshotList = new QListWidget;
	// The context menu remembers the row it was opened on.
	snapshotList->installEventFilter(this);
	snapshotList->viewport()->installEventFilter(this);
	snapshotList->setAttribute(Qt::WA_LayoutUsesWidgetRect);
	snapshotList->setItemDelegate(new SnapshotDelegate(snapshotList));
	snapshotList->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Ignored);
	snapshotList->setUniformItemSizes(true);
	snapshotList->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
	snapshotList->setDragDropMode(QAbstractItemView::InternalMove);
	snapshotList->setDefaultDropAction(Qt::MoveAction);
	snapshotList->setContextMenuPolicy(Qt::ActionsContextMenu);
	// Rows are never edited in place: F2, the view's own edit key, belongs to the rename shortcut below.
	snapshotList->setEditTriggers(QAbstractItemView::NoEditTriggers);

	auto *find = new QAction(localeText("Search"), managerDialog);
	find->setShortcut(QKeySequence::Find);
	find->setShortcutContext(Qt::WindowShortcut);
	find->setAutoRepeat(false);
	managerDialog->addAction(find);
	QObject::connect(find, &QAction::triggered, this, [this] { focusSearch(); });

	QObject::connect(searchEdit, &QLineEdit::textChanged, this, [this] { applySearch(); });

	// The context menu: the rules and the option, undo, the folder.
	const auto addSeparator = [this] {
		auto *separator = new QAction(snapshotList);
		separator->setSeparator(true);
		snapshotList->addAction(separator);
	};
	automation.addActions(snapshotList);
	monitors.addAction(snapshotList);
	keeper.addAction(snapshotList);
	addSeparator();
	undo.addAction(snapshotList);
	addSeparator();
	auto *openFolder = new QAction(localeText("OpenFolder"), snapshotList);
	QObject::connect(openFolder, &QAction::triggered, this, [this] { openSnapshotFolder(); });
	snapshotList->addAction(openFolder);

	const auto listShortcut = [this](QList<QKeySequence> keys) {
		auto *shortcut = new QShortcut(snapshotList);
		shortcut->setKeys(keys);
		shortcut->setContext(Qt::WidgetShortcut);
		shortcut->setAutoRepeat(false);
		return shortcut;
	};
	QShortcut *loadShortcut = listShortcut({QKeySequence(Qt::Key_Return), QKeySequence(Qt::Key_Enter)});
	QObject::connect(loadShortcut, &QShortcut::activated, this, [this] { loadSelectedSnapshot(); });
	QObject::connect(listShortcut({QKeySequence(Qt::Key_F2)}), &QShortcut::activated, this,
			 [this] { renameSnapshot(); });
	QObject::connect(listShortcut({QKeySequence(Qt::Key_Delete)}), &QShortcut::activated, this,
			 [this] { deleteSnapshot(); });

	int row = 0;
	QPushButton *saveNew = addDialogButton(grid, row++, "SaveNew", false, [this] { saveNewSnapshot(); });
	addDialogButton(grid, row++, "Overwrite", true, [this] { overwriteSnapshot(); });
	addDialogButton(grid, row++, "Load", true, [this] { loadSelectedSnapshot(); });
	addDialogButton(grid, row++, "Rename", true, [this] { renameSnapshot(); });
	addDialogButton(grid, row++, "Delete", true, [this] { deleteSnapshot(); });
	addDialogButton(grid, row++, "Import", false, [this] { importSnapshot(); });
	addDialogButton(grid, row++, "Export", true, [this] { exportSnapshot(); });
	addDialogButton(grid, row++, "Refresh", false, [this] {
		refreshSnapshotList(QString());
		saveSettings();
	});
	const int buttonCount = row;

	const int height = std::max(searchEdit->sizeHint().height(), saveNew->sizeHint().height());
	searchEdit->setFixedHeight(height);
	for (int row = 0; row < buttonCount; ++row) {
		grid->itemAtPosition(row, 1)->widget()->setFixedHeight(height);
	}
	grid->addWidget(snapshotList, 1, 0, buttonCount - 1, 1);
	layout->addLayout(grid);
	layout->addStretch(0);

	auto *about = new QLabel(aboutText());
	about->setTextFormat(Qt::RichText);
	about->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::LinksAccessibleByMouse |
				       Qt::LinksAccessibleByKeyboard);
	about->setOpenExternalLinks(true);
	about->setWordWrap(true);
	layout->addWidget(about);

	// Keyboard order follows the work: search, then the list, then the buttons from top to bottom.
	QWidget *previous = snapshotList;
	QWidget::setTabOrder(searchEdit, snapshotList);
	for (int r = 0; r < buttonCount; ++r) {
		QWidget *next = grid->itemAtPosition(r, 1)->widget();
		QWidget::setTabOrder(previous, next);
		previous = next;
	}

	QObject::connect(snapshotList, &QListWidget::itemSelectionChanged, this, [this] { updateButtonStates(); });
	QObject::connect(snapshotList, &QListWidget::itemDoubleClicked, this, [this] { loadSelectedSnapshot(); });
	QObject::connect(snapshotList->model(), &QAbstractItemModel::rowsMoved, this, [this] { storeListOrder(); });
}
