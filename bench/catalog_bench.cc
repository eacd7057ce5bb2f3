// tr() against glibc's dgettext on the same Russian .mo file, every source text of the
// catalog looked up in turn (plus a pass of texts the catalog lacks), with Google Benchmark.
// Built by bench/run (it needs libbenchmark, which the project's own build does not link).
// Usage: catalog_bench MO_FILE [benchmark options]
#include <benchmark/benchmark.h>
#include <libintl.h>
#include <locale.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "util/catalog.h"

namespace {

constexpr const char* kDomain = "korvane_v3";
constexpr uint32_t kMoMagic = 0x950412deu;

std::vector<std::string> gKeys;    // every source text of the catalog
std::vector<std::string> gMisses;  // texts the catalog does not have
std::string gTempDir;

bool readFile(const char* path, std::vector<char>* out) {
  FILE* f = std::fopen(path, "rb");
  if (!f) return false;
  char buf[65536];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out->insert(out->end(), buf, buf + n);
  std::fclose(f);
  return true;
}

// The source texts of a native-order .mo file (the header entry skipped).
bool loadKeys(const std::vector<char>& mo) {
  if (mo.size() < 28) return false;
  uint32_t h[5];
  std::memcpy(h, mo.data(), sizeof h);
  if (h[0] != kMoMagic) return false;
  const uint32_t n = h[2], table = h[3];
  for (uint32_t i = 0; i < n; ++i) {
    uint32_t len, off;
    if (table + 8ull * i + 8 > mo.size()) return false;
    std::memcpy(&len, mo.data() + table + 8 * i, 4);
    std::memcpy(&off, mo.data() + table + 8 * i + 4, 4);
    if (off + static_cast<uint64_t>(len) >= mo.size()) return false;
    if (len > 0) gKeys.emplace_back(mo.data() + off, len);
  }
  for (const std::string& k : gKeys) gMisses.push_back(k + " (not in the catalog)");
  return !gKeys.empty();
}

// A locale folder <tmp>/ru/LC_MESSAGES/korvane_v3.mo for gettext.
bool setUpGettext(const std::vector<char>& mo) {
  char tmpl[] = "/tmp/korvane-catbench-XXXXXX";
  if (!mkdtemp(tmpl)) return false;
  gTempDir = tmpl;
  const std::string ru = gTempDir + "/ru", dir = ru + "/LC_MESSAGES";
  mkdir(ru.c_str(), 0700);
  mkdir(dir.c_str(), 0700);
  FILE* f = std::fopen((dir + "/korvane_v3.mo").c_str(), "wb");
  if (!f) return false;
  std::fwrite(mo.data(), 1, mo.size(), f);
  std::fclose(f);
  // glibc ignores LANGUAGE under the plain "C" locale, but not under C.UTF-8.
  setenv("LANGUAGE", "ru", 1);
  if (!setlocale(LC_ALL, "C.UTF-8") && !setlocale(LC_ALL, "ru_RU.UTF-8")) return false;
  bindtextdomain(kDomain, gTempDir.c_str());
  bind_textdomain_codeset(kDomain, "UTF-8");
  return true;
}

void removeTempDir() {
  if (gTempDir.empty()) return;
  const std::string mo = gTempDir + "/ru/LC_MESSAGES/korvane_v3.mo";
  unlink(mo.c_str());
  rmdir((gTempDir + "/ru/LC_MESSAGES").c_str());
  rmdir((gTempDir + "/ru").c_str());
  rmdir(gTempDir.c_str());
}

void BM_tr_hit(benchmark::State& state) {
  for (auto _ : state)
    for (const std::string& k : gKeys) benchmark::DoNotOptimize(tr(k.c_str()));
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(gKeys.size()));
}

void BM_dgettext_hit(benchmark::State& state) {
  for (auto _ : state)
    for (const std::string& k : gKeys) benchmark::DoNotOptimize(dgettext(kDomain, k.c_str()));
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(gKeys.size()));
}

void BM_tr_miss(benchmark::State& state) {
  for (auto _ : state)
    for (const std::string& k : gMisses) benchmark::DoNotOptimize(tr(k.c_str()));
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(gMisses.size()));
}

void BM_dgettext_miss(benchmark::State& state) {
  for (auto _ : state)
    for (const std::string& k : gMisses) benchmark::DoNotOptimize(dgettext(kDomain, k.c_str()));
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(gMisses.size()));
}

}  // namespace

BENCHMARK(BM_tr_hit);
BENCHMARK(BM_dgettext_hit);
BENCHMARK(BM_tr_miss);
BENCHMARK(BM_dgettext_miss);

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: catalog_bench MO_FILE [benchmark options]\n");
    return 2;
  }
  const char* moPath = argv[1];
  std::vector<char> mo;
  if (!readFile(moPath, &mo) || !loadKeys(mo)) {
    std::fprintf(stderr, "cannot read the catalog %s\n", moPath);
    return 1;
  }
  if (catalog_load_path(moPath) != 1 || !setUpGettext(mo)) {
    std::fprintf(stderr, "cannot set up both catalogs\n");
    removeTempDir();
    return 1;
  }
  // Both must really translate, and alike, or the race would compare different work.
  int differ = 0, untranslated = 0;
  for (const std::string& k : gKeys) {
    const char* a = tr(k.c_str());
    const char* b = dgettext(kDomain, k.c_str());
    if (std::strcmp(a, b) != 0) ++differ;
    if (b == k.c_str() || std::strcmp(b, k.c_str()) == 0) ++untranslated;
  }
  std::fprintf(stderr, "%zu texts; tr and dgettext differ on %d; dgettext left %d untranslated\n",
               gKeys.size(), differ, untranslated);
  if (differ > 0 || untranslated * 2 > static_cast<int>(gKeys.size())) {
    std::fprintf(stderr, "gettext does not translate like tr(): no comparison\n");
    removeTempDir();
    return 1;
  }
  argv[1] = argv[0];
  int bargc = argc - 1;
  benchmark::Initialize(&bargc, argv + 1);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  removeTempDir();
  return 0;
}
