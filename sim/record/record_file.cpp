#include "sim/record/record_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "sim/core/errors.h"
#include "sim/system/files.h"

namespace sim {

namespace {
constexpr std::size_t buffer_bytes = std::size_t{1} << 16;
}  // namespace

RecordFile::RecordFile(const OutputSink &outputs, std::string name)
    : outputs_(outputs), name_(std::move(name)) {
  errno = 0;
  file_ = outputs_.create(name_, O_WRONLY);
  if (file_ < 0)
    throw RunError("SIM_OUTPUT: " + outputs_.path() + ": cannot write " + name_ + " there (" +
                   last_system_reason() + ")");
  buffer_.reserve(buffer_bytes);
}

RecordFile::~RecordFile() {
  if (file_ >= 0) ::close(file_);
}

void RecordFile::write(const char *bytes, std::size_t size) {
  if (file_ < 0) return;
  if (buffer_.size() + size > buffer_bytes && !flush()) return;
  // A writer with a buffer of its own (the trace) hands over large pieces:
  // they go straight out.
  if (buffer_.empty() && size >= buffer_bytes / 4)
    write_out(bytes, size);
  else
    buffer_.append(bytes, size);
}

bool RecordFile::flush() {
  const bool written = buffer_.empty() || write_out(buffer_.data(), buffer_.size());
  buffer_.clear();
  return written;
}

bool RecordFile::write_out(const char *bytes, std::size_t size) {
  // Given up for a more valuable output: its file is already gone.
  if (outputs_.given_up(name_)) {
    ::close(file_);
    file_ = -1;
    return false;
  }
  while (size > 0) {
    errno = 0;
    const ssize_t wrote = ::write(file_, bytes, size);
    if (wrote > 0) {
      bytes += wrote;
      size -= static_cast<std::size_t>(wrote);
      continue;
    }
    const int error = errno;
    if (wrote < 0 && error == EINTR) continue;
    if (is_out_of_space(error) && outputs_.make_room(name_, size)) continue;
    give_up(error != 0 ? system_reason(error) : "write error");
    return false;
  }
  return true;
}

void RecordFile::give_up(const std::string &reason) {
  ::close(file_);
  file_ = -1;
  buffer_.clear();
  outputs_.lose(name_, reason);
}

void RecordFile::complete() {
  if (file_ < 0) return;
  if (!flush()) return;
  errno = 0;
  const int closed = ::close(file_);
  file_ = -1;
  if (closed != 0) {
    outputs_.lose(name_, last_system_reason());
    return;
  }
  outputs_.complete(name_, "");
}

}  // namespace sim
