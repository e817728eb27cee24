// World files: the TOML text that sets up a run, read into its settings.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "sim/core/world_config.h"

namespace sim {

// A world file that cannot be used: which file, which key, and why.
struct WorldFileError : std::runtime_error {
  WorldFileError(const std::string &file, const std::string &key, const std::string &reason);
  std::string file;
  std::string key;
  std::string reason;
};

// Parses a world file's text. Throws WorldFileError on anything it cannot use.
WorldConfig parse_world(std::string_view text, const std::string &file_name);
// Reads and parses a world file.
WorldConfig load_world_file(const std::string &path);
// Every key a world file may hold, named as its reference names them: a
// top-level key as itself ("steps"), a table's as "[camera] width" or
// "[[target]] x".
std::vector<std::string> world_file_keys();
// The world used when SIM_WORLD is not set (the same as worlds/default.toml).
WorldConfig default_world();
extern const char *const default_world_text;

}  // namespace sim
