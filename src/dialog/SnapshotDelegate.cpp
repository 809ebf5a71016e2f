#include "module/Keys.hpp"
#include "dialog/SnapshotDelegate.hpp"

#include <QAbstractItemView>
#include <QApplication>
#include <QPainter>

#include <algorithm>

namespace {

constexpr int kDetailGap = 12;
constexpr int kViewportMargin = 2;

} // namespace

SnapshotDelegate::~SnapshotDelegate() = default;

void SnapshotDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const
{
	QStyleOptionViewItem item(option);
	initStyleOption(&item, index);
	const QFontMetrics metrics(item.font);
	const QWidget *widget = item.widget;
	QStyle *style = widget ? widget->style() : QApplication::style();

	QRect rect = style->subElementRect(QStyle::SE_ItemViewItemText, &item, widget);
	if (const auto *view = qobject_cast<const QAbstractItemView *>(widget)) {
		rect.setRight(std::min(rect.right(), view->viewport()->rect().right() - kViewportMargin));
	}

	const QString number = QStringLiteral("%1.").arg(index.row() + 1);
	QFont boldFont(item.font);
	boldFont.setWeight(QFont::Bold);
	const QFontMetrics boldMetrics(boldFont);
	const int numberWidth = boldMetrics.horizontalAdvance(QStringLiteral("%1.").arg(1000));

	const QString detail = index.model() ? index.model()->data(index, kModifiedRole).toString() : QString();
	const int detailWidth = std::max(0, std::min(metrics.horizontalAdvance(detail) + 2, rect.width() / 2));
	const int gap = detail.isEmpty() ? 0 : kDetailGap;
	// The events that load the snapshot automatically stand left of the time, in at most a quarter of the row.
	const QString rules = index.model() ? index.model()->data(index, kRulesRole).toString() : QString();
	const int rulesWidth =
		rules.isEmpty() ? 0 : std::max(0, std::min(metrics.horizontalAdvance(rules) + 2, rect.width() / 4));
	const int rulesGap = rules.isEmpty() ? 0 : kDetailGap;
	const int space = boldMetrics.horizontalAdvance(QLatin1Char(' '));
	const QRect nameRect = rect.adjusted(numberWidth + space, 0, -(detailWidth + gap + rulesWidth + rulesGap), 0);
	const QString name = metrics.elidedText(item.text, Qt::ElideRight, std::max(0, nameRect.width()));

	// The style draws background, selection, hover and focus; the texts are ours.
	item.text.clear();
	style->drawControl(QStyle::CE_ItemViewItem, &item, painter, widget);

	painter->save();
	painter->setClipRect(rect, Qt::IntersectClip);
	const QPalette::ColorGroup group = !(item.state & QStyle::State_Enabled) ? QPalette::Disabled
					   : (item.state & QStyle::State_Active) ? QPalette::Active
										 : QPalette::Inactive;
	const bool selected = item.state & QStyle::State_Selected;
	const QColor secondary =
		item.palette.color(group, selected ? QPalette::HighlightedText : QPalette::PlaceholderText);

	painter->setPen(secondary);
	painter->setFont(boldFont);
	QRect numberRect(rect);
	numberRect.setWidth(numberWidth);
	painter->drawText(numberRect, Qt::AlignRight | Qt::AlignVCenter, number);

	painter->setFont(item.font);
	painter->setPen(item.palette.color(group, selected ? QPalette::HighlightedText : QPalette::Text));
	painter->drawText(nameRect, Qt::AlignLeft | Qt::AlignVCenter, name);

	painter->setPen(secondary);
	QRect detailRect(rect);
	detailRect.setLeft(rect.right() - detailWidth + 1);
	painter->drawText(detailRect, Qt::AlignRight | Qt::AlignVCenter,
			  metrics.elidedText(detail, Qt::ElideRight, detailWidth));
	if (!rules.isEmpty()) {
		QRect rulesRect(rect);
		rulesRect.setRight(detailRect.left() - gap - 1);
		rulesRect.setLeft(rulesRect.right() - rulesWidth + 1);
		painter->drawText(rulesRect, Qt::AlignRight | Qt::AlignVCenter,
				  metrics.elidedText(rules, Qt::ElideRight, rulesWidth));
	}
	painter->restore();
}
