#include "sim/world/spelling.h"

#include <algorithm>
#include <cctype>

namespace sim {

std::size_t edits_between(std::string_view a, std::string_view b) {
  const auto lower = [](char c) {
    return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  };
  std::vector<std::vector<std::size_t>> d(a.size() + 1, std::vector<std::size_t>(b.size() + 1));
  for (std::size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
  for (std::size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i)
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const std::size_t change = lower(a[i - 1]) == lower(b[j - 1]) ? 0 : 1;
      d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + change});
      if (i > 1 && j > 1 && lower(a[i - 1]) == lower(b[j - 2]) &&
          lower(a[i - 2]) == lower(b[j - 1]))
        d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
    }
  return d[a.size()][b.size()];
}

std::optional<std::string> nearest_word(std::string_view word,
                                        const std::vector<std::string> &known) {
  // Words of hundreds of letters are no slip of the keyboard.
  if (word.size() > 64) return std::nullopt;
  std::optional<std::string> nearest;
  std::size_t fewest = 1 + word.size() / 4;
  for (const std::string &candidate : known) {
    const std::size_t edits = edits_between(word, candidate);
    if (edits < fewest || (edits == fewest && !nearest)) {
      nearest = candidate;
      fewest = edits;
    }
  }
  return nearest;
}

}  // namespace sim
