// Images that are read front to back: a read may skip forward, a read further back starts the
// input over (which a pipe refuses), and the image ends exactly after its last byte.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "image/read/image_reader.h"
#include "image/read/input_stream.h"

namespace kestro::cli {

class ForwardReader : public ImageReader {
 public:
  ForwardReader(std::string name, uint64_t size) : name_(std::move(name)), size_(size) {}

  uint64_t size() const override { return size_; }

 protected:
  void Read(uint64_t offset, void* buffer, size_t length) override;
  void CheckEnd() override;
  // Up to `length` next bytes of the image into `buffer`; 0 at its end.
  virtual size_t ReadNext(uint8_t* buffer, size_t length) = 0;
  // Back to the image's first byte.
  virtual void Restart() = 0;
  // Why the input is not the image when it goes on past the image's end.
  virtual std::string BeyondEnd() const;

  const std::string& name() const { return name_; }
  void set_size(uint64_t size) { size_ = size; }
  // Reads on to the end, returns how many bytes there were and starts over.
  uint64_t Measure();
  // The image offset of the next byte ReadNext gives.
  uint64_t position() const { return position_; }

 private:
  // Exactly `length` next bytes; throws Failure naming the offset where the image ends early.
  void ReadExactly(uint8_t* buffer, size_t length);

  std::string name_;
  uint64_t size_;
  uint64_t position_ = 0;
  std::vector<uint8_t> skipped_;
};

// An uncompressed image on standard input.
class PlainStreamReader : public ForwardReader {
 public:
  PlainStreamReader(std::unique_ptr<InputStream> input, uint64_t size)
      : ForwardReader(input->name(), size), input_(std::move(input)) {}

 protected:
  size_t ReadNext(uint8_t* buffer, size_t length) override {
    return input_->ReadSome(buffer, length);
  }
  void Restart() override { input_->Rewind(); }

 private:
  std::unique_ptr<InputStream> input_;
};

}  // namespace kestro::cli
