#include "cli/descriptor_output.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace veks {

DescriptorBuffer::DescriptorBuffer(int fd) : fd_(fd) {
  setp(buffer_.data(), buffer_.data() + buffer_.size());
}

DescriptorBuffer::~DescriptorBuffer() { drain(); }

bool DescriptorBuffer::drain() {
  const char* next = pbase();
  const char* const end = pptr();
  while (error_ == 0 && next < end) {
    const ssize_t written = ::write(fd_, next, static_cast<std::size_t>(end - next));
    if (written < 0) {
      if (errno != EINTR) error_ = errno;
    } else {
      next += written;
    }
  }
  setp(buffer_.data(), buffer_.data() + buffer_.size());
  return error_ == 0;
}

DescriptorBuffer::int_type DescriptorBuffer::overflow(int_type ch) {
  if (!drain()) return traits_type::eof();
  if (!traits_type::eq_int_type(ch, traits_type::eof())) {
    *pptr() = traits_type::to_char_type(ch);
    pbump(1);
  }
  return traits_type::not_eof(ch);
}

int DescriptorBuffer::sync() { return drain() ? 0 : -1; }

std::string WriteErrorText(const std::ostream& out) {
  const auto* buffer = dynamic_cast<const DescriptorBuffer*>(out.rdbuf());
  if (buffer != nullptr && buffer->error() != 0) return std::strerror(buffer->error());
  return "write error";
}

}  // namespace veks
