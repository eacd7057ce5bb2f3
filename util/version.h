// The programs' version: the project version, defined once in CMakeLists.txt, and the source
// revision the build was made from. Both come from a file the build writes, so only the
// programs themselves link them (library korvane_version) and a new commit relinks nothing else.
#pragma once
#include <string>

// "3.0.0".
const char* korvane_version();
// The git commit the build was made from, e.g. "72c5cd9e1f2a" or "72c5cd9e1f2a-dirty";
// "" when unknown (a build from a source archive without git).
const char* korvane_revision();

// What --version prints for program: a first line "program version", a line
// "Source revision R" when the revision is known, then the copyright and licence lines.
std::string korvane_version_text(const char* program);
