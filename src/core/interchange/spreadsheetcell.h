#pragma once

#include <QString>

// CSV cells that a spreadsheet cannot run. A spreadsheet takes a cell that begins with "=",
// "+", "-", "@", a tab or a carriage return for a formula, and the values written come from
// other people too (shared address books, received cards). An apostrophe in front, the
// spreadsheets' own mark for text, keeps such a cell text; readers take it off again.
namespace interchange {

// The value as a CSV cell: with one more apostrophe in front when it begins with "=", "@",
// a tab or a carriage return, with "+" or "-" and is not a plain phone number ("+", then only
// digits, spaces and "( ) . - /", at least one digit), or with apostrophes followed by any
// of those six characters (so that it reads back as it was).
QString toSpreadsheetCell(const QString &value);

// A CSV cell as read: one apostrophe fewer when its leading apostrophes are followed by "=",
// "+", "-", "@", a tab or a carriage return. Gives back what toSpreadsheetCell was given.
QString fromSpreadsheetCell(const QString &cell);

} // namespace interchange
