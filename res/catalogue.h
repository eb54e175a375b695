// The message catalogue outside the resource script, for the command-line front end and the
// tests: the same table the deliverables carry as their string resources.
#pragma once

#include <string>

#include "profiles/profile.h"

constexpr int kChineseOffset = 0;
constexpr int kEnglishOffset = 10000;

// Text of a string identifier ("" for an identifier the table does not hold).
std::wstring CatalogueText(const tagProfileTraits& profile, unsigned id);

// Text of result code n in the language of offset (20000 + n + offset).
std::wstring ResultText(const tagProfileTraits& profile, int code, int offset);
