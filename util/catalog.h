// The message catalog: GNU gettext .mo files, and tr() that every shown text passes through.
// It lives at the ground floor: every layer above (and the tests) uses it.
#pragma once

// Refusals of catalog_load beyond the three basic ones: the tables, lengths or offsets
// point outside the file, a string lacks its NUL, or the count is more than the file holds;
// and a file too large to be a catalog. A file that opens but cannot be read gives -1.
constexpr int kCatalogMalformed = -4;
constexpr int kCatalogTooLarge = -5;
constexpr long kCatalogMaxBytes = 16L * 1024 * 1024;

// Loads "<language>/<file>" relative to the working directory ("ru", "korvane_v3.mo" reads
// ru/korvane_v3.mo). Returns 1 on success; -1 the file cannot be opened, -2 fewer than
// 28 bytes, -3 bad magic, other negative codes for a malformed catalog. On failure the
// catalog in force stays as it was.
int catalog_load(const char* file, const char* language);
// Same, from an explicit path.
int catalog_load_path(const char* path);
// Drops the catalog: every text shows untranslated again. Translations handed out before
// stay valid: replaced catalogs are kept in memory until the process ends.
void catalog_unload();
// The translation of text, or text itself when the catalog has none. Never allocates.
const char* tr(const char* text);

// Marks a text kept in a table for translation where it is shown later through tr(): the
// catalog check finds texts by the names tr and N_, so a table entry written N_("Free") is
// checked against the Russian catalog like a direct tr("Free").
constexpr const char* N_(const char* text) { return text; }
