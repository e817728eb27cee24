#include "sim/record/record_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "sim/core/errors.h"
#include "sim/system/files.h"

namespace sim {

RecordFile::RecordFile(const OutputSink &outputs, std::string name)
    : outputs_(outputs), name_(std::move(name)) {
  errno = 0;
  const int created = outputs_.create(name_, O_WRONLY);
  if (created >= 0) {
    file_ = ::fdopen(created, "wb");
    if (file_ == nullptr) {
      const int error = errno;
      ::close(created);
      errno = error;
    }
  }
  if (file_ == nullptr)
    throw RunError("SIM_OUTPUT: " + outputs_.path() + ": cannot write " + name_ + " there (" +
                   last_system_reason() + ")");
}

RecordFile::~RecordFile() {
  if (file_ != nullptr) std::fclose(file_);
}

void RecordFile::write(const char *bytes, std::size_t size) {
  if (file_ == nullptr) return;
  errno = 0;
  if (std::fwrite(bytes, 1, size, file_) != size && failure_.empty())
    failure_ = last_system_reason();
}

void RecordFile::complete() {
  if (file_ == nullptr) return;
  errno = 0;
  if (std::fclose(file_) != 0 && failure_.empty()) failure_ = last_system_reason();
  file_ = nullptr;
  outputs_.complete(name_, failure_);
}

}  // namespace sim
