// Names in the order a person of the user's locale expects ("alpha, Bravo,
// Charlie" rather than capitals first; accents after their letter;
// punctuation before letters): a collation key per name, whose bytes sort
// as the names should. Reports carry the keys beside the names, so that a
// stylesheet sorting texts by their bytes sorts the names so.
#pragma once

#include <functional>
#include <string>

namespace tamber::report {

// The key of `name` under the collation of the user's locale (LC_ALL,
// LC_COLLATE, LANG; the root collation for C, POSIX or none), as lowercase
// hexadecimal. Safe to call from several threads.
std::string collationKey(const std::string& name);

// The locale the keys follow ("fr_FR", "" for the root collation).
std::string collationLocale();

// Why names cannot be sorted as the locale sorts them (ICU's collation
// could not be loaded): they then sort by their bytes. Empty when they can.
std::string collationProblem();

}  // namespace tamber::report
