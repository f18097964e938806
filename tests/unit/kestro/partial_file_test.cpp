// Claiming IMAGE.partial: one writer at a time, a dead writer's file replaced, nothing else taken.
#include <support/errors.h>
#include <image/partial_file.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include <fixtures.h>
#include <gtest/gtest.h>

using namespace kestro::cli;
using kestro::testing::TempDir;

TEST(PartialFile, OneWriterAtATimeAndAStaleFileIsReplaced) {
  TempDir dir;
  const std::string path = dir.File("image.partial");
  const ImageFolder folder(path);
  const int first = ClaimPartialFile(folder, folder.image(), 0600);
  ASSERT_EQ(write(first, "stale", 5), 5);
  try {
    ClaimPartialFile(folder, folder.image(), 0600);
    ADD_FAILURE() << "a second claim succeeded while the first holds the file";
  } catch (const Failure& failure) {
    EXPECT_NE(std::string(failure.what()).find("a backup to the same image is running"),
              std::string::npos)
        << failure.what();
  }
  // The holder ends without removing its file, as a killed process does.
  close(first);
  const int second = ClaimPartialFile(folder, folder.image(), 0600);
  EXPECT_EQ(std::filesystem::file_size(path), 0u);
  close(second);
}

TEST(PartialFile, RefusesWhatIsNotARegularFile) {
  TempDir dir;
  const std::string fifo = dir.File("fifo.partial");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const std::string folder = dir.File("folder.partial");
  std::filesystem::create_directory(folder);
  const std::string link = dir.File("link.partial");
  std::filesystem::create_symlink(dir.File("elsewhere"), link);
  const ImageFolder inDir(fifo);
  for (const std::string& path : {fifo, folder, link}) {
    EXPECT_THROW(ClaimPartialFile(inDir, std::filesystem::path(path).filename(), 0600), Failure)
        << path;
  }
  EXPECT_TRUE(std::filesystem::is_fifo(fifo));
  EXPECT_FALSE(std::filesystem::exists(dir.File("elsewhere")));
}
