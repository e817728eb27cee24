// How deeply a TOML text nests, found before it is parsed. The TOML parser
// descends once per level, so a text nested thousands of levels deep (a
// dotted key of 40,000 parts is an 80 KB file) would overflow its stack.
#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

namespace sim {

// Where a text first nests deeper than a limit.
struct TooDeep {
  std::size_t line = 0;  // counted from 1
};

// Levels count each part of a dotted key, each part of a table header (and
// one more for an array of tables), and each array or inline table a value
// opens: `[[target]]` then `color = [1, 2, 3]` is 3 deep. The first place the
// text goes deeper than `limit`, if it does. Where the text is not TOML the
// scan stops there and says nothing: the parser, which stops at the same
// place, reports the error.
std::optional<TooDeep> nested_deeper_than(std::string_view text, std::size_t limit);

}  // namespace sim
