#pragma once

#include <QStyledItemDelegate>

// Paints a snapshot row: a bold row number in a column sized for "1000.", the name elided at the right,
// the events that load it automatically, and the modification time right-aligned.
class SnapshotDelegate : public QStyledItemDelegate {
public:
	using QStyledItemDelegate::QStyledItemDelegate;
	~SnapshotDelegate() override;

	void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override;
};
