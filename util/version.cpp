// The --version text shared by korvane_v3, korvane-cli and korvane-sim.
#include "util/version.h"

std::string korvane_version_text(const char* program) {
  // The first line is "program version" alone, as help2man and packaging tools read it.
  std::string text = std::string(program) + " " + korvane_version() + "\n";
  const std::string revision = korvane_revision();
  if (!revision.empty()) text += "Source revision " + revision + "\n";
  text +=
      "\n"
      "Copyright (C) 2026 Korvane v3 developers.\n"
      "License: MIT. This is free software: you may use, change and redistribute it.\n"
      "There is NO WARRANTY, to the extent permitted by law.\n";
  return text;
}
