#include "kestro_support.h"

#include <sys/stat.h>

#include <fstream>
#include <sstream>

namespace kestro::testing {

void KestroTest::SetUp() {
  disk = dir.File("disk.img");
  const auto unpacked =
      RunCommand("xz -dc " + ShellQuote(KESTRO_SAMPLE_DISK) + " > " + ShellQuote(disk));
  ASSERT_EQ(unpacked.status, 0) << unpacked.output;
}

CommandResult KestroTest::Kestro(const std::string& arguments) {
  return RunCommand(ShellQuote(KESTRO_PROGRAM) + " " + arguments);
}

CommandResult KestroTest::KestroOutput(const std::string& arguments) {
  return RunCommand("(" + ShellQuote(KESTRO_PROGRAM) + " " + arguments + " 2>/dev/null)");
}

std::string KestroTest::Partition(const SamplePartition& partition) const {
  return ShellQuote(disk) + " --partition " + std::to_string(partition.number);
}

namespace {

std::string DdRange(const std::string& path, uint64_t offset, uint64_t length) {
  return "dd if=" + ShellQuote(path) +
         " iflag=skip_bytes,count_bytes skip=" + std::to_string(offset) +
         " count=" + std::to_string(length) + " status=none";
}

}  // namespace

std::string Sha256(const std::string& path, uint64_t offset, uint64_t length) {
  return RunCommand(DdRange(path, offset, length) + " bs=1M | sha256sum").output.substr(0, 64);
}

void CopyWithDd(const std::string& path, uint64_t offset, uint64_t length, const std::string& to,
                bool sparse) {
  const auto result = RunCommand(DdRange(path, offset, length) + " of=" + ShellQuote(to) +
                                 (sparse ? " bs=4096 conv=sparse" : " bs=1M"));
  ASSERT_EQ(result.status, 0) << result.output;
}

std::string Sha256(const std::string& path) {
  return RunCommand("sha256sum < " + ShellQuote(path)).output.substr(0, 64);
}

uint64_t AllocatedBytes(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 ? static_cast<uint64_t>(st.st_blocks) * 512 : 0;
}

uint64_t FileSize(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
}

std::string ReadFileText(const std::string& path) {
  std::ifstream in(path);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

}  // namespace kestro::testing
