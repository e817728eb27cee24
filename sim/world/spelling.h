// Near misses: the known word a mistyped one most likely meant.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

// How many single-letter edits (an insertion, a deletion, a change, or two
// neighbours swapped) turn one word into the other, ignoring case.
std::size_t edits_between(std::string_view a, std::string_view b);

// The known word within a slip of a letter or two of `word` (one edit, and
// one more per four letters), the first of the closest; none if no word is
// that close.
std::optional<std::string> nearest_word(std::string_view word,
                                        const std::vector<std::string> &known);

}  // namespace sim
