// An image written to a pipe or terminal descriptor (standard output) as a plain byte stream:
// zeros are written out, since a pipe has no holes. A reader that goes away (EPIPE) ends the
// backup with a failure rather than killing it.
#pragma once

#include <string>

#include "image/write/image_sink.h"

namespace kestro::cli {

class StreamWriter : public ImageSink {
 public:
  // Writes to `fd`, which `name` names in messages; SIGPIPE is ignored from here on.
  StreamWriter(int fd, std::string name);

  void Write(const uint8_t* data, size_t length) override;
  void Finish() override {}

 private:
  int fd_;
  std::string name_;
  uint64_t written_ = 0;
};

}  // namespace kestro::cli
