#include "tests/support/recording.h"

#include <algorithm>

#include "sim/system/files.h"
#include "tests/support/folders.h"

namespace support {

Outputs::Outputs(std::string_view name)
    : path(fresh_folder(name)),
      folder(path.string(), sim::is_stand_in_output),
      sink(folder, [this](const std::string &file, const std::string &reason) {
        lost.push_back(file + ": " + reason);
      }) {}

std::string Outputs::read(const std::string &file) const {
  return sim::read_file((path / file).string());
}

std::vector<std::string> Outputs::files() const {
  std::vector<std::string> names;
  for (const fs::directory_entry &entry : fs::directory_iterator(path))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace support
