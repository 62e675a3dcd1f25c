// Standard output of the command-line tools: a stream buffer on a file
// descriptor that keeps the system's reason when a write fails, so that a
// tool can name it ("No space left on device") instead of failing silently.
#pragma once

#include <array>
#include <ostream>
#include <streambuf>
#include <string>

namespace veks {

class DescriptorBuffer : public std::streambuf {
 public:
  // Writes to `fd`, which stays open and owned by the caller.
  explicit DescriptorBuffer(int fd);
  ~DescriptorBuffer() override;
  DescriptorBuffer(const DescriptorBuffer&) = delete;
  DescriptorBuffer& operator=(const DescriptorBuffer&) = delete;

  // The errno of the first write that failed; 0 while all succeeded. After a
  // failure nothing more is written.
  [[nodiscard]] int error() const { return error_; }

 protected:
  int_type overflow(int_type ch) override;
  int sync() override;

 private:
  bool drain();

  int fd_;
  int error_ = 0;
  std::array<char, 8192> buffer_{};
};

// Why writing to `out` failed, in the system's words when its buffer is a
// DescriptorBuffer that saw the failure.
[[nodiscard]] std::string WriteErrorText(const std::ostream& out);

}  // namespace veks
