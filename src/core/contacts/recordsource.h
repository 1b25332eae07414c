#pragma once

#include <core/contacts/contactfields.h>

#include <QString>

#include <optional>

// The record order of the main window: the statement the sort type from settings.ini selects.
// The words are compared exactly ("LastName" or "lastname " fall back to the last-name order).
QString recordSourceForSortType(const QString &sortType);

// The name field a record source orders by ("... order by lastname [asc]"), or nothing when
// it orders by something else: the store puts those rows in the locale's order of names.
std::optional<ContactField> nameOrderOf(const QString &statement);
