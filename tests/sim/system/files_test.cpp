// Reading a file whole: every byte as it is, and what is not a regular file,
// or too large, refused for what it is before a byte is read.
#include "sim/system/files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <string>

#include "tests/support/folders.h"

namespace {

namespace fs = std::filesystem;
using support::fresh_folder;

std::string reason_for(const std::string &path, std::uint64_t max_bytes = sim::largest_file_read) {
  try {
    sim::read_file(path, "a world file", max_bytes);
  } catch (const sim::FileError &error) {
    return error.reason;
  }
  return "(read)";
}

TEST(ReadFile, GivesEveryByteUpToTheLimitAndRefusesOneMore) {
  const fs::path folder = fresh_folder("files_bytes");
  const std::string bytes("a\0b\r\n\xff", 6);
  std::ofstream(folder / "exact", std::ios::binary) << bytes;
  EXPECT_EQ(sim::read_file((folder / "exact").string(), "a file", 6), bytes);
  EXPECT_EQ(reason_for((folder / "exact").string(), 5),
            "is 6 bytes; a world file may have at most 5");
  std::ofstream(folder / "empty", std::ios::binary);
  EXPECT_EQ(sim::read_file((folder / "empty").string()), "");
}

TEST(ReadFile, WhatIsNotARegularFileIsNamedForWhatItIs) {
  const fs::path folder = fresh_folder("files_kinds");
  const fs::path fifo = folder / "fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
  const fs::path huge = folder / "huge.toml";
  std::ofstream(huge) << "steps = 1\n";
  fs::resize_file(huge, 17u << 20);  // sparse: no disk needed
  EXPECT_EQ(reason_for(folder.string()), "is a directory, not a world file");
  EXPECT_EQ(reason_for(fifo.string()), "is a FIFO (named pipe), not a world file");
  EXPECT_EQ(reason_for("/dev/zero"), "is a device, not a world file");
  EXPECT_EQ(reason_for(huge.string()),
            "is 17825792 bytes; a world file may have at most 16777216 (16 MiB)");
  EXPECT_EQ(reason_for((folder / "missing").string()),
            "cannot be opened (No such file or directory)");
}

TEST(SystemReason, SaysTheSystemsWordsOrThatAWriteFailed) {
  EXPECT_EQ(sim::system_reason(ENOSPC), "No space left on device");
  errno = 0;
  EXPECT_EQ(sim::last_system_reason(), "write error");
  errno = EACCES;
  EXPECT_EQ(sim::last_system_reason(), "Permission denied");
}

}  // namespace
