// The debug form of a string, used wherever a repr or an error text quotes one.
#pragma once

#include <string>
#include <string_view>

namespace skyrec {

// `utf8` in double quotes. Backslash, double quote, tab, carriage return, line
// feed and NUL become \\ \" \t \r \n \0; other control characters, characters
// that are not printable and combining marks become \u{hex} (lower case, no
// leading zeros); everything else, the single quote included, stays as is.
// Invalid UTF-8 is read as U+FFFD.
std::string debug_string(std::string_view utf8);

}  // namespace skyrec
