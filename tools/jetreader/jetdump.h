#pragma once

// The reader process's work, apart from its main() so the fuzz target drives the same code:
// the table contactsdb of an open Jet file, written as frames (the format is described in
// core/interchange/jetimport.h, whose client checks them).

#include <cstdio>

// mdbtools.h includes glib inside its extern "C", where glib's C++ parts do not compile:
// glib comes first.
#include <glib.h>
#include <mdbtools.h>

namespace jetreader {

// The longest memo sent whole, in UTF-8 bytes; a longer one is a failure, never cut.
constexpr std::size_t defaultMaxValueBytes = 16 * 1024 * 1024;

// Makes libmdb decode text to UTF-8 (Jet 4 from UCS-2, Jet 3 from the file's code page,
// windows-1252 when it names none), whatever the environment says. Call before opening.
void prepareEnvironment();

// Writes the header, the rows and the end frame of contactsdb to out; on failure writes a
// failure frame instead of the end frame. Answers true when the table was read to its end.
// A memo's header says how long it is; libmdb is given room for that much, up to
// maxValueBytes (the fuzz target asks less, for speed).
bool dumpContacts(MdbHandle *mdb, std::FILE *out, std::size_t maxValueBytes = defaultMaxValueBytes);

// Writes a failure frame holding reason.
void writeFailure(std::FILE *out, const char *reason);

} // namespace jetreader
