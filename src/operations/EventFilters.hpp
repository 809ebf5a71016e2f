#pragma once

#include <QList>
#include <QObject>
#include <QPointer>

// The objects that one filter watches: each gets the filter once, and all lose it together. An object destroyed
// meanwhile is left out; removing is safe while a watched window is half destroyed.
class EventFilters {
public:
	explicit EventFilters(QObject *filter) : filter(filter) {}
	~EventFilters() { removeAll(); }
	EventFilters(const EventFilters &) = delete;
	EventFilters &operator=(const EventFilters &) = delete;

	// Installs the filter on the object unless it has it from here already.
	void add(QObject *object);
	void removeAll();
	bool contains(const QObject *object) const;
	bool isEmpty() const;

private:
	QObject *filter;
	QList<QPointer<QObject>> objects;
};
