// The message catalog against catalogs compiled by msgfmt in both byte orders, against
// hand-damaged files (each refused, the catalog in force still answering), and against a
// hand-laid-out file whose strings are neither contiguous nor sorted.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "support/test_support.h"
#include "util/catalog.h"

namespace {

using Bytes = std::vector<uint8_t>;

const char kPo[] =
    "msgid \"\"\n"
    "msgstr \"Content-Type: text/plain; charset=UTF-8\\n\"\n"
    "\n"
    "msgid \"Side A\"\nmsgstr \"Сторона А\"\n\n"
    "msgid \"Side B\"\nmsgstr \"Сторона Б\"\n\n"
    "msgid \"Save\"\nmsgstr \"Сохранить\"\n\n"
    "msgid \"Set price\"\nmsgstr \"Установить цену\"\n\n"
    "msgid \"Restart\"\nmsgstr \"Перезапуск\"\n\n"
    "msgid \"Read settings\"\nmsgstr \"Прочитать настройки\"\n";

Bytes readFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

void writeFile(const std::string& path, const Bytes& data) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
}

uint32_t getLe(const Bytes& d, size_t at) {
  return d[at] | (d[at + 1] << 8) | (d[at + 2] << 16) | (static_cast<uint32_t>(d[at + 3]) << 24);
}
void putLe(Bytes& d, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) d[at + i] = static_cast<uint8_t>(v >> (8 * i));
}
void putBe(Bytes& d, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) d[at + i] = static_cast<uint8_t>(v >> (24 - 8 * i));
}

class CatalogTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = testsupport::makeTempDir();
    ASSERT_FALSE(dir_.empty());
    writeFile(dir_ + "/test.po", Bytes(kPo, kPo + sizeof kPo - 1));
    for (const char* order : {"little", "big"}) {
      std::string cmd = "msgfmt --check-format --endianness=" + std::string(order) + " -o " + dir_ +
                        "/" + order + ".mo " + dir_ + "/test.po";
      ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
    }
    little_ = readFile(dir_ + "/little.mo");
    big_ = readFile(dir_ + "/big.mo");
    ASSERT_GE(little_.size(), 28u);
    ASSERT_EQ(getLe(little_, 0), 0x950412deu);
  }
  void SetUp() override { catalog_unload(); }
  void TearDown() override { catalog_unload(); }

  // The little-endian file with one change, written out and loaded.
  int loadDamaged(const Bytes& data) {
    std::string path = dir_ + "/damaged.mo";
    writeFile(path, data);
    return catalog_load_path(path.c_str());
  }
  // Offsets inside the little-endian file: the source table, the translation table.
  static size_t sourceEntry(size_t i) { return getLe(little_, 12) + 8 * i; }
  static size_t translationEntry(size_t i) { return getLe(little_, 16) + 8 * i; }

  static std::string dir_;
  static Bytes little_, big_;
};
std::string CatalogTest::dir_;
Bytes CatalogTest::little_, CatalogTest::big_;

TEST_F(CatalogTest, WithoutCatalogTextComesBackAsTheSamePointer) {
  const char* text = "Restart";
  EXPECT_EQ(tr(text), text);
  EXPECT_EQ(catalog_load("no-such.mo", dir_.c_str()), -1);
  EXPECT_EQ(tr(text), text);
  EXPECT_EQ(catalog_load_path(dir_.c_str()), -1);  // a folder is not a readable file
  EXPECT_EQ(tr(nullptr), nullptr);
}

TEST_F(CatalogTest, BothByteOrdersGiveTheSameTranslationsAndUnknownTextsComeBackAsThemselves) {
  const std::pair<const char*, const char*> pairs[] = {
      {"Side A", "Сторона А"},   {"Side B", "Сторона Б"},
      {"Save", "Сохранить"},     {"Set price", "Установить цену"},
      {"Restart", "Перезапуск"}, {"Read settings", "Прочитать настройки"}};
  for (const char* name : {"little.mo", "big.mo"}) {
    SCOPED_TRACE(name);
    ASSERT_EQ(catalog_load(name, dir_.c_str()),
              1);  // the language is the folder, the file name second
    for (const auto& [text, translation] : pairs) EXPECT_STREQ(tr(text), translation);
    // Shares its first byte with three sources; starts no source; prefix of a source; empty
    // (which must not show the catalog's header entry).
    for (const char* text : {"Side C", "Sid", "Save it", "Zero", "R", "\xff", ""})
      EXPECT_EQ(tr(text), text) << text;
  }
}

TEST_F(CatalogTest, LoadsFromTheLanguageFolderUnderTheWorkingDirectory) {
  std::string lang = dir_ + "/ru";
  ASSERT_EQ(
      std::system(
          ("mkdir -p " + lang + " && cp " + dir_ + "/big.mo " + lang + "/korvane_v3.mo").c_str()),
      0);
  char old[4096];
  ASSERT_NE(getcwd(old, sizeof old), nullptr);
  ASSERT_EQ(chdir(dir_.c_str()), 0);
  int rc = catalog_load("korvane_v3.mo", "ru");
  int swapped = catalog_load("ru", "korvane_v3.mo");
  ASSERT_EQ(chdir(old), 0);
  EXPECT_EQ(rc, 1);
  EXPECT_EQ(swapped, -1);
  EXPECT_STREQ(tr("Side B"), "Сторона Б");
}

TEST_F(CatalogTest, DamagedFilesAreRefusedAndTheCatalogInForceKeepsAnswering) {
  ASSERT_EQ(catalog_load_path((dir_ + "/big.mo").c_str()), 1);
  const char* sideA = tr("Side A");
  ASSERT_STREQ(sideA, "Сторона А");

  // The little-endian file (or the big-endian one) with one change in place.
  auto le = [](std::function<void(Bytes&)> change, const Bytes& from = little_) {
    Bytes d = from;
    change(d);
    return d;
  };
  const uint32_t size = static_cast<uint32_t>(little_.size());
  struct Case {
    const char* what;
    Bytes data;
    int expected;
  };
  const Case cases[] = {
      {"empty file", {}, -2},
      {"truncated header", Bytes(little_.begin(), little_.begin() + 27), -2},
      {"bad magic", le([](Bytes& d) { d[0] ^= 0xFF; }), -3},
      {"count huge", le([](Bytes& d) { putLe(d, 8, 0xFFFFFFFFu); }), kCatalogMalformed},
      {"count one past the tables", le([](Bytes& d) { putLe(d, 8, getLe(d, 8) + 1); }),
       kCatalogMalformed},
      {"source table past end", le([&](Bytes& d) { putLe(d, 12, size - 4); }), kCatalogMalformed},
      {"translation table offset wraps", le([](Bytes& d) { putLe(d, 16, 0xFFFFFFF0u); }),
       kCatalogMalformed},
      {"string offset past end", le([&](Bytes& d) { putLe(d, sourceEntry(2) + 4, size); }),
       kCatalogMalformed},
      {"length past end", le([](Bytes& d) { putLe(d, translationEntry(3), 0xFFFFFFFFu); }),
       kCatalogMalformed},
      {"no NUL where the length says",
       le([](Bytes& d) { putLe(d, sourceEntry(1), getLe(d, sourceEntry(1)) - 1); }),
       kCatalogMalformed},
      {"last string cut off", le([](Bytes& d) { d.pop_back(); }), kCatalogMalformed},
      {"count huge in the other byte order", le([](Bytes& d) { putBe(d, 8, 0x10000000u); }, big_),
       kCatalogMalformed},
      {"larger than any catalog",
       le([](Bytes& d) { d.resize(static_cast<size_t>(kCatalogMaxBytes) + 1, 0); }),
       kCatalogTooLarge},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(loadDamaged(c.data), c.expected) << c.what;
    EXPECT_EQ(tr("Side A"), sideA) << c.what;
    EXPECT_STREQ(tr("Side B"), "Сторона Б") << c.what;
  }
}

TEST_F(CatalogTest, TranslationsStayValidAcrossReloadAndUnload) {
  ASSERT_EQ(catalog_load_path((dir_ + "/little.mo").c_str()), 1);
  const char* first = tr("Set price");
  ASSERT_STREQ(first, "Установить цену");
  ASSERT_EQ(catalog_load_path((dir_ + "/big.mo").c_str()), 1);
  catalog_unload();
  EXPECT_EQ(tr("Set price"), std::string("Set price"));
  // Still readable after its catalog was replaced and dropped (the sanitizer build checks).
  EXPECT_STREQ(first, "Установить цену");
}

// A .mo laid out by hand: strings stored in reverse order with gaps, sources unsorted.
Bytes scatteredCatalog(const std::vector<std::pair<std::string, std::string>>& pairs) {
  const uint32_t n = static_cast<uint32_t>(pairs.size());
  Bytes d(28 + 16 * n, 0);
  putLe(d, 0, 0x950412deu);
  putLe(d, 8, n);
  putLe(d, 12, 28);
  putLe(d, 16, 28 + 8 * n);
  for (uint32_t k = n; k-- > 0;) {
    for (int which = 1; which >= 0; --which) {
      const std::string& s = which ? pairs[k].second : pairs[k].first;
      d.insert(d.end(), 3, 'x');  // a gap that is not part of any string
      uint32_t at = static_cast<uint32_t>(d.size());
      d.insert(d.end(), s.begin(), s.end());
      d.push_back(0);
      size_t entry = (which ? 28 + 8 * n : 28) + 8 * k;
      putLe(d, entry, static_cast<uint32_t>(s.size()));
      putLe(d, entry + 4, at);
    }
  }
  return d;
}

TEST_F(CatalogTest, StringsAreFoundByTheirOffsetsEvenWhenScatteredAndUnsorted) {
  Bytes d = scatteredCatalog({{"Side B", "Б"},
                              {"Stop", "Стоп"},
                              {"Close Port", ""},
                              {"Side A", "А"},
                              {"Apply", "Применить"},
                              {"S", "С"}});
  ASSERT_EQ(loadDamaged(d), 1);
  const std::pair<const char*, const char*> pairs[] = {
      {"Side A", "А"}, {"Side B", "Б"}, {"Stop", "Стоп"}, {"Apply", "Применить"}, {"S", "С"}};
  for (const auto& [text, translation] : pairs) EXPECT_STREQ(tr(text), translation);
  // No entry, and an entry with an empty translation: the English text itself.
  for (const char* text : {"Side", "Close Port"}) EXPECT_EQ(tr(text), text) << text;
}

// The build marks texts holding '%' as C formats before msgfmt --check-format, so a
// translation with the wrong directives fails the build even without the flag written.
TEST_F(CatalogTest, BuildCheckRejectsTranslationWithWrongFormatDirectives) {
  auto compiles = [&](const std::string& msgstr) {
    std::string po = std::string(kPo) + "\nmsgid \"Reset result=%d\"\nmsgstr \"" + msgstr + "\"\n";
    writeFile(dir_ + "/format.po", Bytes(po.begin(), po.end()));
    std::string cmd = "awk -f " + testsupport::sourceDir() + "/po/mark-c-format.awk " + dir_ +
                      "/format.po > " + dir_ + "/format.marked.po && msgfmt --check-format -o " +
                      dir_ + "/format.mo " + dir_ + "/format.marked.po 2>/dev/null";
    return std::system(cmd.c_str()) == 0;
  };
  EXPECT_TRUE(compiles("Сброс, результат=%d"));
  EXPECT_FALSE(compiles("Сброс, результат=%s"));
  EXPECT_FALSE(compiles("Сброс выполнен"));
  EXPECT_FALSE(compiles("Сброс %d %d"));
}

}  // namespace
