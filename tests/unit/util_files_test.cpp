// The files seam: whole-file replacement that never leaves a cut file or a temporary one
// behind, names in any language (UTF-16 at the system boundary on Windows), regular files
// told from folders, the program's own folder, and the engineer's own folder.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <string>

#include "support/test_support.h"
#include "util/files.h"

namespace {

namespace fs = std::filesystem;
using testsupport::makeTempDir;
using testsupport::readText;

int entriesIn(const std::string& dir) {
  return static_cast<int>(std::distance(fs::directory_iterator(fs::u8path(dir)), {}));
}

std::string readThroughSeam(const std::string& path) {
  FILE* f = fileOpen(path, "rb");
  if (!f) return "<cannot open>";
  std::string text;
  char buf[256];
  for (size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;) text.append(buf, n);
  std::fclose(f);
  return text;
}

TEST(FilesSeam, ReplacementWritesCreatesAndReplacesLeavingNoTemporaryFile) {
  const std::string dir = makeTempDir();
  const std::string path = dir + "/settings.json";
  ASSERT_EQ(fileReplaceContents(path, "first\n"), 0);
  EXPECT_EQ(readText(path), "first\n");
  ASSERT_EQ(fileReplaceContents(path, std::string("second\0with a NUL", 17)), 0);
  EXPECT_EQ(readText(path), std::string("second\0with a NUL", 17));
  ASSERT_EQ(fileReplaceContents(path, ""), 0);
  EXPECT_EQ(readText(path), "");
  EXPECT_EQ(entriesIn(dir), 1);
}

TEST(FilesSeam, AFailedReplacementLeavesTheOldFileAndSaysWhy) {
  const std::string dir = makeTempDir();
  const std::string path = dir + "/korvane_v3.ini";
  ASSERT_EQ(fileReplaceContents(path, "COM3 9600 8 N 1 38400"), 0);
  // A folder that does not exist cannot take the new file.
  errno = 0;
  EXPECT_EQ(fileReplaceContents(dir + "/missing/korvane_v3.ini", "x"), ENOENT);
  EXPECT_EQ(errno, ENOENT);
  // A folder standing where the file should go is not replaced by a file.
  ASSERT_TRUE(fs::create_directory(fs::u8path(dir + "/taken")));
  EXPECT_NE(fileReplaceContents(dir + "/taken", "x"), 0);
  EXPECT_TRUE(fs::is_directory(fs::u8path(dir + "/taken")));
  EXPECT_EQ(fileReplaceContents("", "x"), ENOENT);
  EXPECT_EQ(readText(path), "COM3 9600 8 N 1 38400");
  EXPECT_EQ(entriesIn(dir), 2);  // the file and the folder: no temporary file left
}

TEST(FilesSeam, NamesInAnyLanguageReachTheSystemUnchanged) {
  const std::string dir = makeTempDir();
  const std::string name = "настройки ТРК №3 – ü.json";
  ASSERT_EQ(fileReplaceContents(dir + "/" + name, "{}"), 0);
  bool found = false;
  for (const auto& entry : fs::directory_iterator(fs::u8path(dir)))
    found = found || entry.path().filename().u8string() == name;
  EXPECT_TRUE(found) << "the file is not listed under its own name";
  EXPECT_EQ(readThroughSeam(dir + "/" + name), "{}");
  EXPECT_EQ(fileOpen(dir + "/настройки.json", "rb"), nullptr);  // no such file
#ifdef _WIN32
  // Linux names are bytes; a Windows name is UTF-16, which bytes that are not UTF-8 do not
  // make: such a name is refused rather than mangled into another file's.
  EXPECT_EQ(fileOpen(dir + "/bad\xFF\xFEname", "wb"), nullptr);
  EXPECT_EQ(fileReplaceContents(dir + "/bad\xFF\xFEname", "x"), EINVAL);
#endif
}

TEST(FilesSeam, RegularFilesAreToldFromFolders) {
  const std::string dir = makeTempDir();
  ASSERT_EQ(fileReplaceContents(dir + "/image.bin", "abc"), 0);
  FILE* f = fileOpen(dir + "/image.bin", "rb");
  ASSERT_NE(f, nullptr);
  EXPECT_TRUE(fileIsRegular(f));
  std::fclose(f);
  EXPECT_FALSE(fileIsRegular(nullptr));
  // Linux opens a folder for reading; whatever the system does, it is never a regular file.
  if (FILE* folder = fileOpen(dir, "rb")) {
    EXPECT_FALSE(fileIsRegular(folder));
    std::fclose(folder);
  }
}

TEST(FilesSeam, TheProgramsFolderAndTheEngineersFolder) {
  // The test programs are built into the tests folder of the build.
  EXPECT_TRUE(
      fs::equivalent(fs::u8path(programFolder()), fs::u8path(testsupport::buildDir() + "/tests")))
      << programFolder();

  const std::string home = makeTempDir();
#ifdef _WIN32
  const char* variable = "APPDATA";
#else
  const char* variable = "XDG_CONFIG_HOME";
#endif
  const char* saved = std::getenv(variable);
  const std::string savedValue = saved ? saved : "";
  testsupport::setEnv(variable, home + "/Данные");
  const std::string folder = userDataFolder();
  EXPECT_EQ(fs::u8path(folder), fs::u8path(home + "/Данные") / "korvane_v3");
  const fs::path before = fs::current_path();
  ASSERT_TRUE(enterFolder(folder));  // made with its missing parent
  EXPECT_TRUE(fs::equivalent(fs::current_path(), fs::u8path(folder)));
  ASSERT_TRUE(enterFolder(folder));  // and entered again when it is there
  fs::current_path(before);
  EXPECT_FALSE(enterFolder(""));
  testsupport::setEnv(variable, savedValue);
}

}  // namespace
