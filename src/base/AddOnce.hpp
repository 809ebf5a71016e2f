#pragma once

#include <QList>

// Appends the value unless the list holds it already.
template <typename T>
void addOnce(QList<T> &list, const T &value)
{
	if (!list.contains(value)) {
		list.append(value);
	}
}
