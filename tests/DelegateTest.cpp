#include "dialog/SnapshotDelegate.hpp"
#include "support/TestHost.hpp"

#include <QApplication>
#include <QImage>
#include <QListWidget>
#include <QPainter>

#include <gtest/gtest.h>

namespace {

const QColor kBackground(255, 255, 255);
const QColor kHighlight(0, 0, 0);
const QColor kText(0, 0, 255);
const QColor kSecondary(255, 0, 0);
const QColor kSelectedText(0, 255, 0);

// Paints one row of a list into an image, with a palette of pure colours and no antialiasing, so that every
// text pixel tells which colour role drew it.
class DelegateTest : public testing::Test {
protected:
	void SetUp() override
	{
		QPalette palette = list.palette();
		for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
			palette.setColor(group, QPalette::Base, kBackground);
			palette.setColor(group, QPalette::Window, kBackground);
			palette.setColor(group, QPalette::Highlight, kHighlight);
			palette.setColor(group, QPalette::Text, kText);
			palette.setColor(group, QPalette::PlaceholderText, kSecondary);
			palette.setColor(group, QPalette::HighlightedText, kSelectedText);
		}
		list.setPalette(palette);
		QFont font = list.font();
		font.setStyleStrategy(QFont::NoAntialias);
		list.setFont(font);
		list.resize(width + 40, 300);
		list.show();
		for (int i = 0; i < 1000; ++i) {
			new QListWidgetItem(QStringLiteral("Snapshot %1").arg(i + 1), &list);
		}
	}

	QImage paintRow(int row, const QString &name, const QString &detail, bool selected = false)
	{
		list.item(row)->setText(name);
		list.item(row)->setData(Qt::UserRole + 1, detail);
		QStyleOptionViewItem option;
		option.initFrom(&list);
		option.widget = &list;
		option.font = list.font();
		option.rect = QRect(0, 0, width, 24);
		option.state |= QStyle::State_Enabled | QStyle::State_Active;
		if (selected) {
			option.state |= QStyle::State_Selected;
		}
		QImage image(width, 24, QImage::Format_RGB32);
		image.fill(kBackground);
		QPainter painter(&image);
		painter.setRenderHint(QPainter::TextAntialiasing, false);
		const QTransform before = painter.transform();
		delegate.paint(&painter, option, list.model()->index(row, 0));
		EXPECT_EQ(painter.transform(), before) << "the painter is restored";
		EXPECT_FALSE(painter.hasClipping()) << "the painter is restored";
		return image;
	}

	// The leftmost and rightmost columns holding a pixel of the colour, or (-1, -1).
	static std::pair<int, int> span(const QImage &image, const QColor &colour)
	{
		int left = -1;
		int right = -1;
		for (int x = 0; x < image.width(); ++x) {
			for (int y = 0; y < image.height(); ++y) {
				if (image.pixelColor(x, y) == colour) {
					left = left < 0 ? x : left;
					right = x;
					break;
				}
			}
		}
		return {left, right};
	}

	static int count(const QImage &image, const QColor &colour)
	{
		int n = 0;
		for (int y = 0; y < image.height(); ++y) {
			for (int x = 0; x < image.width(); ++x) {
				n += image.pixelColor(x, y) == colour;
			}
		}
		return n;
	}

	const int width = 360;
	QListWidget list;
	SnapshotDelegate delegate;
};

TEST_F(DelegateTest, RowNumbersShareOneRightAlignedColumn)
{
	const QImage first = paintRow(0, QString(), QString());
	const QImage thousandth = paintRow(999, QString(), QString());
	const auto [firstLeft, firstRight] = span(first, kSecondary);
	const auto [lastLeft, lastRight] = span(thousandth, kSecondary);
	ASSERT_GE(firstLeft, 0);
	ASSERT_GE(lastLeft, 0);
	EXPECT_EQ(firstRight, lastRight) << "the dots line up";
	EXPECT_LT(lastLeft, firstLeft);
	QFont bold = list.font();
	bold.setWeight(QFont::Bold);
	EXPECT_LE(lastRight - lastLeft + 1, QFontMetrics(bold).horizontalAdvance(QStringLiteral("1000.")));
}

TEST_F(DelegateTest, LongNamesAreElidedBeforeTheDetail)
{
	const QString detail = QStringLiteral("2026-12-07 08:15");
	const QString longName =
		QStringLiteral("A very long snapshot name that cannot possibly fit into this row at all");
	const QImage row = paintRow(0, longName, detail);
	const auto [nameLeft, nameRight] = span(row, kText);
	const QImage numberAndDetail = paintRow(0, QString(), detail);
	const int detailLeft =
		span(numberAndDetail, kSecondary).second - QFontMetrics(list.font()).horizontalAdvance(detail) + 1;
	ASSERT_GE(nameLeft, 0);
	EXPECT_LT(nameRight + 12, detailLeft + 1) << "the name stops before the 12 px gap";
	EXPECT_GT(nameRight, width / 3) << "the name uses its space";
	// The detail text is drawn in full, right-aligned near the right edge.
	EXPECT_GT(span(row, kSecondary).second, width - 20);
}

TEST_F(DelegateTest, NoGapWithoutADetailAndLongDetailsTakeAtMostHalf)
{
	const QString longName = QString(200, u'W');
	const int withoutDetail = span(paintRow(0, longName, QString()), kText).second;
	const int withDetail = span(paintRow(0, longName, QStringLiteral("x")), kText).second;
	EXPECT_GE(withoutDetail - withDetail, 12) << "only a detail brings the gap";
	EXPECT_GT(withoutDetail, width - 40);

	const QImage huge = paintRow(0, QStringLiteral("Name"), QString(300, u'8'));
	const auto [detailLeft, detailRight] = span(huge, kSecondary);
	EXPECT_GE(span(huge, kText).first, 0) << "the name keeps its place";
	EXPECT_LE(detailRight, width);
	const auto nameSpan = span(huge, kText);
	EXPECT_LT(nameSpan.second, width / 2 + 10);
}

TEST_F(DelegateTest, RulesStandBetweenTheNameAndTheTimeInAtMostAQuarter)
{
	const QString detail = QStringLiteral("2026-12-07 08:15");
	const QString longName = QString(200, u'W');
	const int nameAlone = span(paintRow(0, longName, detail), kText).second;
	const int timeLeft = span(paintRow(0, QString(), detail), kSecondary).second -
			     QFontMetrics(list.font()).horizontalAdvance(detail) + 1;

	list.item(0)->setData(Qt::UserRole + 2, QStringLiteral("Rec start"));
	const QImage row = paintRow(0, longName, detail);
	const int rulesWidth = QFontMetrics(list.font()).horizontalAdvance(QStringLiteral("Rec start"));
	EXPECT_LE(span(row, kText).second, nameAlone - rulesWidth - 12) << "the name makes room for the rules";
	// Secondary pixels in the room left of the time: the rules themselves.
	QImage between = row.copy(span(row, kText).second + 1, 0, timeLeft - span(row, kText).second - 2, 24);
	EXPECT_GT(count(between, kSecondary), 10);

	list.item(0)->setData(Qt::UserRole + 2, QString(300, u'R'));
	const QImage crowded = paintRow(0, QStringLiteral("Name"), detail);
	EXPECT_GE(span(crowded, kText).first, 0) << "the name keeps its place";
	list.item(0)->setData(Qt::UserRole + 2, QVariant());
}

TEST_F(DelegateTest, SelectedRowsUseHighlightedTextOnly)
{
	const QImage row = paintRow(4, QStringLiteral("Selected"), QStringLiteral("2026-12-07 08:15"), true);
	EXPECT_GT(count(row, kSelectedText), 20);
	EXPECT_EQ(count(row, kText), 0);
	EXPECT_EQ(count(row, kSecondary), 0);
}

} // namespace
