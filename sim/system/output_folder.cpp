#include "sim/system/output_folder.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "sim/core/errors.h"
#include "sim/system/files.h"

namespace sim {

namespace {
namespace fs = std::filesystem;

constexpr const char *lock_name = ".sim.lock";
constexpr std::string_view partial_suffix = ".partial";

std::string partial_name(std::string_view name) {
  return "." + std::string(name) + std::string(partial_suffix);
}

// The folder's lock file, opened where it is. A symbolic link in its place is
// no run's lock (no run follows one), so it goes; a lock file that is really
// there stays, as another run may hold it.
int open_lock(int folder) {
  constexpr int flags = O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK;
  int lock = ::openat(folder, lock_name, flags, 0644);
  if (lock < 0 && errno == ELOOP) {
    if (::unlinkat(folder, lock_name, 0) != 0) return -1;
    lock = ::openat(folder, lock_name, flags | O_EXCL, 0644);
  }
  return lock;
}
}  // namespace

OutputFolder::OutputFolder(std::string path, const IsOutput &is_output) : path_(std::move(path)) {
  std::error_code failed;
  fs::create_directories(path_, failed);
  if (failed)
    throw RunError("SIM_OUTPUT: " + path_ + ": cannot create the folder (" + failed.message() +
                   ")");
  folder_ = ::open(path_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  // A constructor that throws has no destructor run: the descriptors go here.
  const auto refuse = [this](const std::string &message) {
    if (lock_ >= 0) ::close(lock_);
    ::close(folder_);
    throw RunError(message);
  };
  if (folder_ < 0)
    throw RunError("SIM_OUTPUT: " + path_ + ": cannot open the folder (" + system_reason(errno) +
                   ")");
  lock_ = open_lock(folder_);
  if (lock_ < 0)
    refuse("SIM_OUTPUT: " + path_ + ": cannot write there (" + system_reason(errno) + ")");
  struct stat about {};
  if (::fstat(lock_, &about) != 0 || !S_ISREG(about.st_mode))
    refuse("SIM_OUTPUT: " + path_ + ": its " + lock_name +
           " is not a regular file, so it cannot be the folder's lock; remove it");
  // The lock goes with the process, however it ends, so a crashed run never
  // leaves the folder locked.
  if (::flock(lock_, LOCK_EX | LOCK_NB) != 0) {
    const int error = errno;
    if (error == EWOULDBLOCK)
      refuse("SIM_OUTPUT: " + path_ +
             ": another run is writing there; wait for it to end or choose another "
             "folder");
    refuse("SIM_OUTPUT: " + path_ + ": cannot lock the folder (" + system_reason(error) + ")");
  }
  for (const fs::directory_entry &entry : fs::directory_iterator(path_, failed)) {
    const std::string name = entry.path().filename().string();
    if (!is_output(name)) continue;
    std::error_code removed;
    fs::remove(entry.path(), removed);
    if (removed)
      refuse("SIM_OUTPUT: " + path_ + ": cannot remove the earlier " + name + " (" +
             removed.message() + ")");
  }
  if (failed)
    refuse("SIM_OUTPUT: " + path_ + ": cannot list the folder (" + failed.message() + ")");
}

OutputFolder::~OutputFolder() {
  if (lock_ >= 0) ::close(lock_);
  if (folder_ >= 0) ::close(folder_);
}

std::string OutputFolder::partial(std::string_view name) const {
  return (fs::path(path_) / partial_name(name)).string();
}

std::string OutputFolder::output_named(std::string_view file_name) {
  std::string name(file_name);
  if (name.size() > partial_suffix.size() + 1 && name[0] == '.' && name.ends_with(partial_suffix))
    name = name.substr(1, name.size() - 1 - partial_suffix.size());
  return name;
}

int OutputFolder::create(std::string_view name, int access) const {
  const std::string file = partial_name(name);
  if (::unlinkat(folder_, file.c_str(), 0) != 0 && errno != ENOENT) return -1;
  // O_EXCL: should anything take the name again before this, the file is
  // not written at all rather than written through it.
  return ::openat(folder_, file.c_str(), access | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
}

std::string OutputFolder::commit(std::string_view name) const {
  if (::renameat(folder_, partial_name(name).c_str(), folder_, std::string(name).c_str()) != 0)
    return system_reason(errno);
  return "";
}

void OutputFolder::discard(std::string_view name) const {
  ::unlinkat(folder_, partial_name(name).c_str(), 0);
}

std::string OutputFolder::write(std::string_view name, std::string_view content) const {
  const int error = try_write(name, content);
  return error == 0 ? "" : system_reason(error);
}

int OutputFolder::try_write(std::string_view name, std::string_view content) const {
  const int file = create(name, O_WRONLY);
  if (file < 0) return errno;
  int error = 0;
  for (std::size_t done = 0; done < content.size() && error == 0;) {
    const ssize_t wrote = ::write(file, content.data() + done, content.size() - done);
    if (wrote > 0)
      done += static_cast<std::size_t>(wrote);
    else if (wrote < 0 && errno != EINTR)
      error = errno;
  }
  if (::close(file) != 0 && error == 0) error = errno;
  if (error == 0 &&
      ::renameat(folder_, partial_name(name).c_str(), folder_, std::string(name).c_str()) != 0)
    error = errno;
  if (error != 0) discard(name);
  return error;
}

std::string OutputFolder::remove(std::string_view name) const {
  if (::unlinkat(folder_, std::string(name).c_str(), 0) != 0) return system_reason(errno);
  return "";
}

std::uint64_t OutputFolder::size_of(std::string_view name) const {
  struct stat about {};
  if (::fstatat(folder_, std::string(name).c_str(), &about, AT_SYMLINK_NOFOLLOW) != 0) return 0;
  return static_cast<std::uint64_t>(about.st_size);
}

std::optional<std::uint64_t> OutputFolder::free_bytes() const {
  struct statvfs about {};
  if (::fstatvfs(folder_, &about) != 0) return std::nullopt;
  // A file system with no file left to make has no room either.
  if (about.f_favail == 0 && about.f_files > 0) return 0;
  return static_cast<std::uint64_t>(about.f_bavail) * about.f_frsize;
}

}  // namespace sim
