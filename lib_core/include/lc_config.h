// The daemon configuration file: plain "key=value" lines.
//
// Rules (exact, and relied on by existing configuration files):
//   - lines are separated by LF; a CR before the LF stays part of the value;
//   - a line sets a key when the key starts the line and is followed directly
//     by "="; the value is the rest of the line and must not be empty;
//   - keys are case-sensitive; the first matching line wins; lines that do not
//     match are ignored;
//   - an integer value is an optional sign and decimal digits, nothing else
//     (so a trailing CR or blank rejects it) and must fit an int; anything
//     else leaves the key unset;
//   - text values hold at most LC_CONFIG_TEXT_MAX characters; longer ones are
//     cut.
#pragma once

#include <string>
#include <vector>

#define LC_CONFIG_TEXT_MAX 275  // characters kept of a text value

struct LC_CONFIG {
    std::vector<std::string> lines;  // the file's lines, LF removed
};

// Loads `path` into `cfg` (replacing what it held). 0, or -1 when the file
// cannot be read; `cfg` is then empty, so every key reads as unset.
int LC_ConfigLoad(LC_CONFIG* cfg, const char* path);

// The value of `key`: 0 with the text in `value`, -1 when unset.
int LC_ConfigGetString(const LC_CONFIG* cfg, const char* key, std::string& value);

// The value of `key` as an integer: 0 with it in `*value`, -1 when unset or
// not an integer (`*value` untouched).
int LC_ConfigGetInt(const LC_CONFIG* cfg, const char* key, int* value);
