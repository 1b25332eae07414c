#pragma once

#include <core/contacts/contactfields.h>

#include <QList>

namespace cntdb {

// Realistic demo contacts for screenshots and benchmarks: names with accents, phones,
// e-mail addresses and notes of several lines. The same seed gives the same contacts;
// contact ids run from firstId upwards.
QList<ContactValues> demoContacts(int count, quint32 seed = 1, int firstId = 1);

} // namespace cntdb
