// The parts of WritableFile that are the same on every system; opening, writing and closing
// are in the back ends.
#include "platform/files.h"

#include <utility>

namespace ombrel::platform {

WritableFile::WritableFile(WritableFile&& other) noexcept
    : handle_(std::exchange(other.handle_, invalid_handle())) {}

WritableFile& WritableFile::operator=(WritableFile&& other) noexcept {
  if (this != &other) {
    close();
    handle_ = std::exchange(other.handle_, invalid_handle());
  }
  return *this;
}

WritableFile::~WritableFile() { close(); }

bool WritableFile::is_open() const { return handle_ != invalid_handle(); }

}  // namespace ombrel::platform
