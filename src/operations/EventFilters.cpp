#include "operations/EventFilters.hpp"

#include <utility>

void EventFilters::add(QObject *object)
{
	if (!object || contains(object)) {
		return;
	}
	objects.removeAll(nullptr);
	object->installEventFilter(filter);
	objects.append(object);
}

void EventFilters::removeAll()
{
	for (const QPointer<QObject> &object : std::as_const(objects)) {
		if (object) {
			object->removeEventFilter(filter);
		}
	}
	objects.clear();
}

bool EventFilters::contains(const QObject *object) const
{
	for (const QPointer<QObject> &watched : objects) {
		if (watched == object) {
			return true;
		}
	}
	return false;
}

bool EventFilters::isEmpty() const
{
	for (const QPointer<QObject> &watched : objects) {
		if (watched) {
			return false;
		}
	}
	return true;
}
