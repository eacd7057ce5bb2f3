// --version and --help of the built programs and the desktop launcher (answered without a
// display, the version being the project's and the revision the source's), the GUI's own
// command line beside the toolkit's options, and the script that gives the build its source
// revision, run on real git repositories.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace {

namespace fs = std::filesystem;
using testsupport::buildDir;
using testsupport::readText;
using testsupport::sourceDir;
using testsupport::writeText;

struct Outcome {
  int status = -1;
  std::string out, err;
};

// Runs a shell command line with standard output and error caught in files of dir.
Outcome run(const std::string& dir, const std::string& command) {
  const std::string cmd =
      "(" + command + ") >'" + dir + "/out.txt' 2>'" + dir + "/err.txt' </dev/null";
  const int rc = std::system(cmd.c_str());
  Outcome r;
  r.status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  r.out = readText(dir + "/out.txt");
  r.err = readText(dir + "/err.txt");
  return r;
}

std::string firstLine(const std::string& text) { return text.substr(0, text.find('\n')); }

// The commit the source folder is at, when it is the top of a git work tree; "" otherwise.
std::string sourceCommit(const std::string& dir) {
  Outcome top = run(dir, "git -C '" + sourceDir() + "' rev-parse --show-toplevel");
  if (top.status != 0 ||
      fs::weakly_canonical(firstLine(top.out)) != fs::weakly_canonical(sourceDir()))
    return "";
  Outcome head = run(dir, "git -C '" + sourceDir() + "' rev-parse HEAD");
  return head.status == 0 ? firstLine(head.out) : "";
}

class ProgramInfo : public ::testing::Test {
 protected:
  void SetUp() override { dir_ = testsupport::makeTempDir(); }
  // A program of the build run with no display, in an empty folder (no catalog there).
  Outcome program(const std::string& name, const std::string& args) {
    return run(dir_,
               "cd '" + dir_ + "' && env -u DISPLAY '" + buildDir() + "/" + name + "' " + args);
  }
  std::string dir_;
};

TEST_F(ProgramInfo, EveryProgramTellsItsVersionAndSourceRevisionWithoutADisplay) {
  const std::string commit = sourceCommit(dir_);
  for (const char* name : {"korvane_v3", "korvane-cli", "korvane-sim"}) {
    SCOPED_TRACE(name);
    const Outcome r = program(name, "--version");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(firstLine(r.out), std::string(name) + " " + KORVANE_PROJECT_VERSION);
    const size_t at = r.out.find("\nSource revision ");
    if (commit.empty()) {
      EXPECT_EQ(at, std::string::npos) << r.out;
    } else {
      // The build's commit, shortened to 12 digits, and perhaps "-dirty": the commit now
      // checked out, so a new commit shows after a build without configuring again.
      ASSERT_NE(at, std::string::npos) << r.out;
      EXPECT_EQ(r.out.substr(at + 17, 12), commit.substr(0, 12)) << r.out;
    }
    EXPECT_NE(r.out.find("Copyright (C) 2026 Korvane v3 developers."), std::string::npos);
    EXPECT_NE(r.out.find("License: MIT"), std::string::npos);
  }
}

TEST_F(ProgramInfo, EveryProgramPrintsItsHelpWithoutADisplay) {
  for (const char* name : {"korvane_v3", "korvane-cli", "korvane-sim"}) {
    SCOPED_TRACE(name);
    for (const char* option : {"--help", "-h"}) {
      const Outcome r = program(name, option);
      EXPECT_EQ(r.status, 0);
      EXPECT_EQ(r.err, "");
      EXPECT_EQ(r.out.rfind(std::string("Usage: ") + name + " ", 0), 0u) << r.out;
      EXPECT_NE(r.out.find("  --version "), std::string::npos);
    }
  }
  // Every command of the command line comes with what it does, for the manual page.
  const Outcome cli = program("korvane-cli", "--help");
  const size_t from = cli.out.find("\nCommands:\n");
  ASSERT_NE(from, std::string::npos);
  const std::string commands = cli.out.substr(from + 11, cli.out.find("\n\n", from) - from - 11);
  int entries = 0;
  size_t pos = 0;
  while (pos < commands.size()) {
    const size_t end = commands.find('\n', pos);
    const std::string line = commands.substr(pos, end - pos);
    const std::string next = end == std::string::npos ? "" : commands.substr(end + 1, 25);
    if (line.rfind("  ", 0) == 0 && line[2] != ' ') {
      ++entries;
      EXPECT_EQ(next.substr(0, 24), std::string(24, ' ')) << "no description for " << line;
      EXPECT_NE(next[24], ' ') << "no description for " << line;
    }
    if (line.rfind(std::string(24, ' '), 0) == 0) {
      EXPECT_LE(line.size(), 80u) << line;
    }
    if (end == std::string::npos) break;
    pos = end + 1;
  }
  EXPECT_GE(entries, 20);  // the twenty commands of today, and any added later
}

TEST_F(ProgramInfo, TheGuiKeepsTheToolkitOptionsAndRefusesAnythingElse) {
  // Toolkit options, whole or shortened, stand before or beside the program's own.
  Outcome r =
      program("korvane_v3", "-geometry 640x480+10+20 -scheme gtk+ -nokbd -bg2 white --version");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(firstLine(r.out), std::string("korvane_v3 ") + KORVANE_PROJECT_VERSION);
  r = program("korvane_v3", "-g 800x600 -ti 'Bench 2' --help");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out.rfind("Usage: korvane_v3 ", 0), 0u);
  // The help names every toolkit option it takes.
  for (const char* option :
       {"-display", "-geometry", "-title", "-name", "-scheme", "-bg ", "-fg ", "-bg2 ", "-iconic",
        "-kbd", "-nokbd", "-dnd", "-nodnd", "-tooltips", "-notooltips"})
    EXPECT_NE(r.out.find(std::string(" ") + option), std::string::npos) << option;
  // The first of --help and --version wins.
  r = program("korvane_v3", "--version --help");
  EXPECT_EQ(firstLine(r.out), std::string("korvane_v3 ") + KORVANE_PROJECT_VERSION);

  // Bad usage exits with 2, says what was wrong, and opens no window (there is no display
  // to open: a try would fail with another message).
  struct Bad {
    const char* args;
    const char* word;
  };
  for (const Bad& b :
       {Bad{"--bogus", "--bogus"}, Bad{"-geometry", "-geometry"},
        Bad{"-geometry not-a-size", "-geometry"}, Bad{"stray", "stray"}, Bad{"-", "-"},
        Bad{"--bogus --help", "--bogus"}, Bad{"-scheme gtk+ extra --version", "extra"}}) {
    SCOPED_TRACE(b.args);
    r = program("korvane_v3", b.args);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find(std::string("unknown option or argument '") + b.word + "'"),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("korvane_v3 --help"), std::string::npos);
  }
}

TEST_F(ProgramInfo, TheLauncherAnswersHelpAndVersionWithoutMakingItsFolder) {
  const std::string home = dir_ + "/home";
  fs::create_directories(home);
  auto launcher = [&](const std::string& programPath, const std::string& args) {
    return run(dir_, "env -i PATH=/usr/bin:/bin HOME='" + home + "' KORVANE_V3_PROGRAM='" +
                         programPath + "' '" + sourceDir() + "/packaging/korvane_v3-launcher' " +
                         args);
  };
  const std::string gui = buildDir() + "/korvane_v3";
  const Outcome own = program("korvane_v3", "--version");
  Outcome r = launcher(gui, "--version");
  EXPECT_EQ(r.status, 0) << r.err;
  // The program's version text under the launcher's name.
  EXPECT_EQ(r.out, "korvane_v3-launcher" + own.out.substr(own.out.find(' ')));
  r = launcher(gui, "-geometry 800x600 --help");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out.rfind("Usage: korvane_v3-launcher ", 0), 0u);
  EXPECT_FALSE(fs::exists(home + "/.config")) << "the launcher made its folder for --help";

  // Without a program there is no version to tell.
  r = launcher(dir_ + "/missing", "--version");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("missing"), std::string::npos);
  writeText(dir_ + "/broken", "#!/bin/sh\nexit 3\n");
  fs::permissions(dir_ + "/broken", fs::perms::owner_all);
  r = launcher(dir_ + "/broken", "--version");
  EXPECT_NE(r.status, 0);
  EXPECT_EQ(r.out, "");
}

// The script the build runs every time to learn the source revision.
class SourceRevision : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = testsupport::makeTempDir();
    if (run(dir_, "git --version").status != 0) GTEST_SKIP() << "git is not installed";
    repo_ = dir_ + "/repo";
    fs::create_directories(repo_ + "/sub");
    writeText(repo_ + "/a.txt", "one\n");
    ASSERT_EQ(git("init -q").status, 0);
    ASSERT_EQ(git("add a.txt").status, 0);
    ASSERT_EQ(git("commit -q -m first").status, 0);
  }
  Outcome git(const std::string& args) {
    return run(dir_, "git -C '" + repo_ + "' -c user.name=t -c user.email=t@t.invalid " + args);
  }
  std::string head() { return firstLine(git("rev-parse HEAD").out).substr(0, 12); }
  // Runs the script for source folder src; returns the revision the written file holds,
  // or "?" when the script failed.
  std::string revisionOf(const std::string& src, const std::string& extra = "") {
    const std::string out = dir_ + "/build_info.cpp";
    const Outcome r =
        run(dir_, std::string("'") + KORVANE_CMAKE_COMMAND + "' -DSOURCE_DIR='" + src +
                      "' -DTEMPLATE='" + sourceDir() + "/cmake/build_info.cpp.in' -DOUTPUT='" +
                      out + "' -DVERSION=9.8.7 -DGIT=git " + extra + " -P '" + sourceDir() +
                      "/cmake/SourceRevision.cmake'");
    if (r.status != 0) return "?";
    const std::string text = readText(out);
    if (text.find("korvane_version() { return \"9.8.7\"; }") == std::string::npos) return "?";
    const std::string key = "korvane_revision() { return \"";
    const size_t at = text.find(key);
    if (at == std::string::npos) return "?";
    return text.substr(at + key.size(), text.find('"', at + key.size()) - at - key.size());
  }
  std::string dir_, repo_;
};

TEST_F(SourceRevision, FollowsEachCommitAndMarksChangedFiles) {
  const std::string first = head();
  ASSERT_EQ(first.size(), 12u);
  EXPECT_EQ(revisionOf(repo_), first);
  // Outcome again with nothing changed, the file is left alone, so nothing is rebuilt.
  const auto written = fs::last_write_time(dir_ + "/build_info.cpp");
  EXPECT_EQ(revisionOf(repo_), first);
  EXPECT_EQ(fs::last_write_time(dir_ + "/build_info.cpp"), written);

  writeText(repo_ + "/a.txt", "two\n");
  EXPECT_EQ(revisionOf(repo_), first + "-dirty");
  ASSERT_EQ(git("commit -q -a -m second").status, 0);
  const std::string second = head();
  EXPECT_NE(second, first);
  EXPECT_EQ(revisionOf(repo_), second);
  // A tag does not change the text: it stays the commit.
  ASSERT_EQ(git("tag v9.8.7").status, 0);
  EXPECT_EQ(revisionOf(repo_), second);
}

TEST_F(SourceRevision, NoRevisionOutsideItsOwnCheckoutUnlessOneIsGiven) {
  // A source archive unpacked inside another repository must not take its commit.
  EXPECT_EQ(revisionOf(repo_ + "/sub"), "");
  // A plain folder, and a build without git.
  fs::create_directories(dir_ + "/plain");
  EXPECT_EQ(revisionOf(dir_ + "/plain"), "");
  EXPECT_EQ(revisionOf(repo_, "-DGIT="), "");
  // A revision given to the build wins, and is kept a valid C++ string.
  EXPECT_EQ(revisionOf(dir_ + "/plain", "-DREVISION=r1234"), "r1234");
  EXPECT_EQ(revisionOf(repo_, "-DREVISION=r1234"), "r1234");
  revisionOf(dir_ + "/plain", "'-DREVISION=a\"b\\'");
  EXPECT_NE(readText(dir_ + "/build_info.cpp").find("{ return \"a\\\"b\\\\\"; }"),
            std::string::npos)
      << readText(dir_ + "/build_info.cpp");
  // A missing input is an error, not an empty version.
  EXPECT_NE(run(dir_, std::string("'") + KORVANE_CMAKE_COMMAND + "' -DSOURCE_DIR=x -P '" +
                          sourceDir() + "/cmake/SourceRevision.cmake'")
                .status,
            0);
}

}  // namespace
