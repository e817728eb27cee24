// The world-file key reference in docs/world-files.md names exactly the keys
// the parser accepts: a key added to one and not the other fails here.
#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <sstream>
#include <string>

#include "sim/world/world_file.h"

namespace {

// The first cell of each row of the reference's table (the one headed
// "| key | default | meaning |"), without its backticks.
std::set<std::string> documented_keys(const std::string &path) {
  std::ifstream file(path);
  std::set<std::string> keys;
  std::string line;
  bool in_table = false;
  while (std::getline(file, line)) {
    if (line.starts_with("| key | default | meaning |")) {
      in_table = true;
      continue;
    }
    if (!in_table) continue;
    if (!line.starts_with("|")) break;
    if (line.starts_with("|---")) continue;
    const std::size_t open = line.find('`');
    const std::size_t close = line.find('`', open + 1);
    const std::size_t cell_end = line.find('|', 1);
    EXPECT_TRUE(open < cell_end && close < cell_end) << "a key cell without `key`: " << line;
    if (open < cell_end && close < cell_end) keys.insert(line.substr(open + 1, close - open - 1));
  }
  return keys;
}

TEST(WorldFileKeys, TheDocumentedReferenceNamesExactlyTheKeysTheParserAccepts) {
  const std::set<std::string> documented =
      documented_keys(std::string(REACHER_SOURCE_DIR) + "/docs/world-files.md");
  ASSERT_FALSE(documented.empty()) << "no key table in docs/world-files.md";
  const std::vector<std::string> accepted_list = sim::world_file_keys();
  const std::set<std::string> accepted(accepted_list.begin(), accepted_list.end());
  for (const std::string &key : accepted)
    EXPECT_TRUE(documented.contains(key)) << key << ": accepted but not in docs/world-files.md";
  for (const std::string &key : documented)
    EXPECT_TRUE(accepted.contains(key)) << key << ": documented but the parser refuses it";
  // The names are the parser's own: each one it lists is one it takes.
  for (const std::string &key : {std::string("[[target]] radius"), std::string("steps")})
    EXPECT_TRUE(accepted.contains(key)) << key;
}

}  // namespace
