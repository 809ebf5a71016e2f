// Undo on its own, with a host that stands in for the controller: what it asks of the host and what it keeps.
#include "support/VelkinProbe.hpp"
#include "undo/UndoHistory.hpp"

#include <QAction>
#include <QWidget>

#include <gtest/gtest.h>

namespace {

LayoutMemento layoutNamed(const QString &last)
{
	return LayoutMemento{last.toUtf8(), QByteArray("state"), last};
}

// Answers what undo asks: whether an operation may start, and whether the window takes the layout put back.
class StandInHost : public FeatureHost {
public:
	bool operationsMayStart = true;
	LoadResult putBackResult = LoadResult::Loaded;
	QList<LayoutMemento> putBack;
	int operationsEnded = 0;

	bool isActive() const override { return true; }
	bool isShuttingDown() const override { return false; }
	QMainWindow *window() const override { return nullptr; }
	bool canStartOperation() const override { return operationsMayStart; }
	bool beginOperation() override { return operationsMayStart; }
	void endOperation() override { ++operationsEnded; }
	LoadResult loadSnapshot(const QString &, LoadSource, QStringList *) override { return LoadResult::NotStarted; }
	LoadResult putLayoutBack(const LayoutMemento &layout, LoadSource source) override
	{
		EXPECT_EQ(source, LoadSource::Undo);
		putBack.append(layout);
		return putBackResult;
	}
	LayoutMemento currentLayout() const override { return LayoutMemento{}; }
	QString lastSnapshot() const override { return QString(); }
	QString snapshotPath(const QString &fileName) const override { return fileName; }
};

TEST(UndoHistoryTest, AnUndoPutsBackTheNewestLayoutOnlyInAnOperationAndKeepsOneTheWindowRefuses)
{
	const struct {
		const char *what;
		int kept;
		bool operationsMayStart;
		LoadResult putBackResult;
		LoadResult expected;
		int keptAfter;
		bool putBack;
	} cases[] = {
		{"put back", 2, true, LoadResult::Loaded, LoadResult::Loaded, 1, true},
		{"refused by the window", 2, true, LoadResult::RestoreFailed, LoadResult::RestoreFailed, 2, true},
		{"another operation runs", 2, false, LoadResult::Loaded, LoadResult::NotStarted, 2, false},
		{"nothing kept", 0, true, LoadResult::Loaded, LoadResult::NotStarted, 0, false},
	};
	for (const auto &c : cases) {
		StandInHost host;
		UndoHistory undo(host);
		QWidget list;
		undo.addAction(&list);
		for (int i = 0; i < c.kept; ++i) {
			undo.remember(layoutNamed(QStringLiteral("/s/%1.json").arg(i)));
		}
		host.operationsMayStart = c.operationsMayStart;
		host.putBackResult = c.putBackResult;

		EXPECT_EQ(undo.undo(), c.expected) << c.what;
		EXPECT_EQ(VelkinProbe::undoHistoryOf(undo).size(), c.keptAfter) << c.what;
		ASSERT_EQ(host.putBack.size(), c.putBack ? 1 : 0) << c.what;
		if (c.putBack) {
			EXPECT_EQ(host.putBack.first().last, QStringLiteral("/s/%1.json").arg(c.kept - 1)) << c.what;
		}
		// Every operation that started has ended.
		EXPECT_EQ(host.operationsEnded, c.operationsMayStart ? 1 : 0) << c.what;
		EXPECT_EQ(list.actions().first()->isEnabled(), c.keptAfter > 0) << c.what;
	}
}

TEST(UndoHistoryTest, TheOldestLayoutsGoBeyondTheDepth)
{
	StandInHost host;
	UndoHistory undo(host);
	for (int i = 0; i < UndoHistory::kDepth + 2; ++i) {
		undo.remember(layoutNamed(QStringLiteral("/s/%1.json").arg(i)));
	}
	const QList<LayoutMemento> &kept = VelkinProbe::undoHistoryOf(undo);
	ASSERT_EQ(kept.size(), UndoHistory::kDepth);
	EXPECT_EQ(kept.first().last, QStringLiteral("/s/2.json"));
	EXPECT_EQ(kept.last().last, QStringLiteral("/s/11.json"));
}

// Steps as a sequence of loads (L), dock changes (D) and undos (U) leaves them: a run of dock changes is one step,
// the layout from before its first change, and a load or an undo ends the run.
TEST(UndoHistoryTest, ARunOfDockChangesIsOneStep)
{
	const struct {
		const char *steps;
		QStringList kept;
	} cases[] = {
		{"LDDDDDDDDDD", {"L", "D1"}},
		{"DDLDD", {"D0", "L", "D3"}},
		{"LDDUDD", {"L", "D4"}},
		{"DDDDDDDDDDDDLL", {"D0", "L", "L"}},
	};
	for (const auto &c : cases) {
		StandInHost host;
		UndoHistory undo(host);
		const QString steps = QString::fromLatin1(c.steps);
		for (int i = 0; i < steps.size(); ++i) {
			const QString layout = steps.at(i) + (steps.at(i) == u'D' ? QString::number(i) : QString());
			if (steps.at(i) == u'L') {
				undo.remember(layoutNamed(layout));
			} else if (steps.at(i) == u'D') {
				undo.rememberDockChange(layoutNamed(layout));
			} else {
				undo.undo();
			}
		}
		QStringList kept;
		for (const LayoutMemento &layout : VelkinProbe::undoHistoryOf(undo)) {
			kept.append(layout.last);
		}
		EXPECT_EQ(kept, c.kept) << c.steps;
	}
}

} // namespace
