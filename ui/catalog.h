// The message catalog: GNU gettext .mo files, and tr() that every shown text passes through.
// No FLTK in here, so the core, the command line and the tests use it too.
#pragma once

// Loads "<language>/<file>" relative to the working directory ("ru", "korvane_v3.mo" reads
// ru/korvane_v3.mo). Returns 1 on success; -1 the file cannot be opened, -2 fewer than
// 28 bytes, -3 bad magic, other negative codes for a malformed catalog. On failure the
// catalog in force stays as it was.
int catalog_load(const char* file, const char* language);
// Same, from an explicit path.
int catalog_load_path(const char* path);
// Drops the catalog: every text shows untranslated again.
void catalog_unload();
// The translation of text, or text itself when the catalog has none. Never allocates.
const char* tr(const char* text);
