// Helpers shared by the tests: paths of the build, temporary folders, running the simulator.
#pragma once
#include <string>

namespace testsupport {
// Folder of the build tree (where korvane-sim, korvane-cli and ru/korvane_v3.mo are).
std::string buildDir();
std::string sourceDir();
// A fresh empty temporary folder, removed at process exit.
std::string makeTempDir();
// A free TCP port on 127.0.0.1.
int freeTcpPort();
}  // namespace testsupport
