// Which characters the debug form of a string writes as \u{...}.
#pragma once

namespace skyrec {

// True for characters that are not printable (controls, format characters,
// separators other than the plain blank, surrogates, private use, unassigned)
// and for combining marks. The table is generated from Unicode data by
// tools/gen_unicode_escapes.py.
bool needs_unicode_escape(char32_t cp) noexcept;

}  // namespace skyrec
