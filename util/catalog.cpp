// The message catalog reader: a GNU .mo file is read whole, checked against its own size,
// then indexed by first byte so tr() is a short binary search with no allocation.
#include "util/catalog.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "util/files.h"

namespace {

constexpr uint32_t kMagicNative = 0x950412deu;
constexpr uint32_t kMagicSwapped = 0xde120495u;
constexpr size_t kHeaderBytes = 28;
constexpr size_t kTableEntryBytes = 8;

struct Catalog {
  std::vector<char> data;  // the whole file; every string below points into it
  std::vector<const char*> sources;
  std::vector<const char*> translations;
  int32_t first[256];
  int32_t last[256];
};

// The catalog in force. Every catalog loaded stays in memory until the process ends, even
// after a reload or an unload, because a window may still hold a label tr() returned.
std::atomic<const Catalog*> gCurrent{nullptr};
std::mutex gLoadMutex;
std::vector<std::unique_ptr<Catalog>>& keptCatalogs() {
  static std::vector<std::unique_ptr<Catalog>> list;
  return list;
}

uint32_t swap32(uint32_t v) {
  return (v >> 24) | ((v >> 8) & 0xFF00u) | ((v << 8) & 0xFF0000u) | (v << 24);
}

uint32_t readU32(const std::vector<char>& d, size_t at, bool swap) {
  uint32_t v;
  std::memcpy(&v, d.data() + at, sizeof v);
  return swap ? swap32(v) : v;
}

// Reads the whole file; 0 on success or the refusal code.
int readWholeFile(const char* path, std::vector<char>* out) {
  FILE* f = fileOpen(path, "rb");
  if (!f) return -1;
  std::vector<char> data;
  char chunk[8192];
  int rc = 0;
  for (;;) {
    size_t got = std::fread(chunk, 1, sizeof chunk, f);
    if (got > 0) {
      if (data.size() + got > static_cast<size_t>(kCatalogMaxBytes)) {
        rc = kCatalogTooLarge;
        break;
      }
      data.insert(data.end(), chunk, chunk + got);
    }
    if (got < sizeof chunk) {
      if (std::ferror(f)) rc = -1;
      break;
    }
  }
  std::fclose(f);
  if (rc == 0) out->swap(data);
  return rc;
}

// Resolves one table of n (length, offset) entries at tableOffset into string pointers.
// Every string must lie inside the file with its NUL right where its length says.
bool readTable(const Catalog& c, uint32_t n, uint32_t tableOffset, bool swap,
               std::vector<const char*>* strings) {
  const uint64_t size = c.data.size();
  if (static_cast<uint64_t>(tableOffset) + static_cast<uint64_t>(n) * kTableEntryBytes > size)
    return false;
  strings->resize(n);
  for (uint32_t i = 0; i < n; ++i) {
    size_t entry = tableOffset + static_cast<size_t>(i) * kTableEntryBytes;
    uint64_t length = readU32(c.data, entry, swap);
    uint64_t offset = readU32(c.data, entry + 4, swap);
    if (offset + length + 1 > size) return false;
    if (c.data[offset + length] != '\0') return false;
    (*strings)[i] = c.data.data() + offset;
  }
  return true;
}

int parseCatalog(Catalog* c) {
  const std::vector<char>& d = c->data;
  if (d.size() < kHeaderBytes) return -2;
  uint32_t magic = readU32(d, 0, false);
  if (magic != kMagicNative && magic != kMagicSwapped) return -3;
  const bool swap = magic == kMagicSwapped;
  const uint32_t n = readU32(d, 8, swap);
  const uint32_t sourceTable = readU32(d, 12, swap);
  const uint32_t translationTable = readU32(d, 16, swap);
  // Each pair needs two table entries and two NULs at least; a larger count is a lie that
  // must not turn into a huge allocation.
  if (static_cast<uint64_t>(n) * (2 * kTableEntryBytes + 2) > d.size() - kHeaderBytes)
    return kCatalogMalformed;
  if (!readTable(*c, n, sourceTable, swap, &c->sources)) return kCatalogMalformed;
  if (!readTable(*c, n, translationTable, swap, &c->translations)) return kCatalogMalformed;

  // GNU tools write the sources sorted; a catalog from elsewhere may not be, and the binary
  // search needs them sorted, so sort the pairs (a no-op pass for a GNU file).
  std::vector<uint32_t> order(n);
  for (uint32_t i = 0; i < n; ++i) order[i] = i;
  const auto& src = c->sources;
  bool sorted = true;
  for (uint32_t i = 1; i < n && sorted; ++i) sorted = std::strcmp(src[i - 1], src[i]) <= 0;
  if (!sorted) {
    std::stable_sort(order.begin(), order.end(),
                     [&](uint32_t a, uint32_t b) { return std::strcmp(src[a], src[b]) < 0; });
    std::vector<const char*> s(n), t(n);
    for (uint32_t i = 0; i < n; ++i) {
      s[i] = c->sources[order[i]];
      t[i] = c->translations[order[i]];
    }
    c->sources.swap(s);
    c->translations.swap(t);
  }

  for (int b = 0; b < 256; ++b) {
    c->first[b] = -1;
    c->last[b] = -2;
  }
  for (uint32_t i = 0; i < n; ++i) {
    unsigned char b = static_cast<unsigned char>(c->sources[i][0]);
    if (c->first[b] < 0) c->first[b] = static_cast<int32_t>(i);
    c->last[b] = static_cast<int32_t>(i);
  }
  return 1;
}

}  // namespace

int catalog_load_path(const char* path) {
  if (!path) return -1;
  auto c = std::make_unique<Catalog>();
  int rc = readWholeFile(path, &c->data);
  if (rc != 0) return rc;
  rc = parseCatalog(c.get());
  if (rc != 1) return rc;
  std::lock_guard<std::mutex> lock(gLoadMutex);
  gCurrent.store(c.get(), std::memory_order_release);
  keptCatalogs().push_back(std::move(c));
  return 1;
}

int catalog_load(const char* file, const char* language) {
  if (!file || !language) return -1;
  std::string path = std::string(language) + "/" + file;
  return catalog_load_path(path.c_str());
}

void catalog_unload() { gCurrent.store(nullptr, std::memory_order_release); }

const char* tr(const char* text) {
  const Catalog* c = gCurrent.load(std::memory_order_acquire);
  // The empty text would find the catalog's header entry; an empty label stays empty.
  if (!c || !text || text[0] == '\0') return text;
  unsigned char b = static_cast<unsigned char>(text[0]);
  int32_t lo = c->first[b];
  int32_t hi = c->last[b];
  while (lo >= 0 && lo <= hi) {
    int32_t mid = lo + (hi - lo) / 2;
    int cmp = std::strcmp(text, c->sources[mid]);
    if (cmp == 0) {
      const char* t = c->translations[mid];
      // An entry kept without a translation shows the English text, as gettext does.
      return t[0] != '\0' ? t : text;
    }
    if (cmp > 0)
      lo = mid + 1;
    else
      hi = mid - 1;
  }
  return text;
}
