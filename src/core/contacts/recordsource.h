#pragma once

#include <QString>

// The record order of the main window: the statement the sort type from settings.ini selects.
// The words are compared exactly ("LastName" or "lastname " fall back to the last-name order).
QString recordSourceForSortType(const QString &sortType);
