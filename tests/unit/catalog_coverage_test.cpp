// Keeps the Russian catalog complete: every text the sources pass to tr() (or mark with N_)
// must have a translation in the compiled catalog with the printf conversions of its English
// text, so a new text cannot ship untranslated unnoticed.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "support/test_support.h"
#include "util/catalog.h"

namespace {

namespace fs = std::filesystem;

// Folders whose texts reach the engineer through tr(); the simulator is not translated.
const char* const kTranslatedFolders[] = {"util",     "link", "protocol", "settings",
                                          "firmware", "ui",   "cli"};

// Undoes the escapes of a C++ string literal body (named, octal and hex).
std::string unescape(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '\\' || i + 1 == s.size()) {
      out += s[i];
      continue;
    }
    const char c = s[++i];
    if (c >= '0' && c <= '7') {
      int v = 0;
      for (int n = 0; n < 3 && i < s.size() && s[i] >= '0' && s[i] <= '7'; ++n)
        v = v * 8 + (s[i++] - '0');
      --i;
      out += static_cast<char>(v);
    } else if (c == 'x') {
      int v = 0;
      while (i + 1 < s.size() && std::isxdigit(static_cast<unsigned char>(s[i + 1])))
        v = v * 16 + std::stoi(std::string(1, s[++i]), nullptr, 16);
      out += static_cast<char>(v);
    } else {
      static const char kFrom[] = "ntrabfv", kTo[] = "\n\t\r\a\b\f\v";
      const char* at = std::strchr(kFrom, c);
      out += at ? kTo[at - kFrom] : c;
    }
  }
  return out;
}

// Reads the conversion starting at the '%' at s[i] into its argument token (length modifier
// and letter: "lu", "X", "*d"); a '%' that starts no valid conversion gives "?" and the next
// character, so it matches no real one. Returns the index of the conversion's last character.
size_t readConversion(const std::string& s, size_t i, std::string* token) {
  size_t j = i + 1;
  token->clear();
  auto digits = [&] {
    if (j < s.size() && s[j] == '*') *token += s[j++];
    while (j < s.size() && std::isdigit(static_cast<unsigned char>(s[j]))) ++j;
  };
  while (j < s.size() && std::strchr("-+ #0'", s[j])) ++j;
  digits();
  if (j < s.size() && s[j] == '.') ++j, digits();
  while (j < s.size() && std::strchr("hlLqjzt", s[j])) *token += s[j++];
  if (j < s.size() && std::strchr("diouxXeEfFgGaAcspn", s[j])) {
    *token += s[j];
    return j;
  }
  *token = "?" + (j < s.size() ? std::string(1, s[j]) : std::string());
  return j < s.size() ? j : s.size() - 1;
}

// The printf conversions of a text in order; "%%" is no conversion.
std::vector<std::string> conversions(const std::string& s) {
  std::vector<std::string> out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '%') continue;
    if (i + 1 < s.size() && s[i + 1] == '%') {
      ++i;
      continue;
    }
    out.emplace_back();
    i = readConversion(s, i, &out.back());
  }
  return out;
}

std::string join(const std::vector<std::string>& v) {
  std::string r;
  for (const auto& t : v) r += (r.empty() ? "%" : " %") + t;
  return r.empty() ? "(none)" : r;
}

// A text needs a translation once it holds a letter outside its conversions ("%02X" has none).
bool hasLetter(const std::string& s) {
  for (size_t i = 0; i < s.size(); ++i) {
    std::string token;
    if (s[i] == '%') {
      const size_t end = readConversion(s, i, &token);
      if (token[0] != '?') {
        i = end;
        continue;
      }
    }
    if (std::isalpha(static_cast<unsigned char>(s[i]))) return true;
  }
  return false;
}

// Texts shown in English on purpose, one a line, in po/untranslated.txt.
std::set<std::string> keptEnglish() {
  std::set<std::string> kept;
  std::ifstream f(testsupport::sourceDir() + "/po/untranslated.txt");
  for (std::string line; std::getline(f, line);)
    if (!line.empty() && line[0] != '#') kept.insert(line);
  return kept;
}

// Every literal at the top level of a tr( or N_( argument, joining literals that stand side
// by side: xgettext would take only the first literal of an argument, so tr(ok ? "Pump %02d
// found" : "Pump %02d not found") would hide its second text from it.
void scanTrArguments(const std::string& src, std::set<std::string>* texts) {
  const size_t n = src.size();
  // Skips a comment, string or character literal starting at k; false if none starts there.
  auto skipLexeme = [&](size_t& k, std::string* literal) -> bool {
    if (src.compare(k, 2, "//") == 0) {
      k = std::min(n, src.find('\n', k));
    } else if (src.compare(k, 2, "/*") == 0) {
      k = src.find("*/", k + 2);
      k = k == std::string::npos ? n : k + 2;
    } else if (src[k] == 'R' && k + 1 < n && src[k + 1] == '"') {
      const size_t open = src.find('(', k + 2);
      if (open == std::string::npos) return false;
      const std::string close = ")" + src.substr(k + 2, open - k - 2) + "\"";
      const size_t end = std::min(n, src.find(close, open + 1));
      if (literal) *literal = src.substr(open + 1, end - open - 1);
      k = std::min(n, end + close.size());
    } else if (src[k] == '"' || src[k] == '\'') {
      const char q = src[k];
      size_t j = k + 1;
      std::string body;
      while (j < n && src[j] != q) {
        if (src[j] == '\\' && j + 1 < n) body += src[j++];
        body += src[j++];
      }
      if (literal && q == '"') *literal = unescape(body);
      k = std::min(n, j + 1);
    } else {
      return false;
    }
    return true;
  };
  auto isIdent = [](char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; };
  for (size_t i = 0; i < n;) {
    if (skipLexeme(i, nullptr)) continue;
    if (!isIdent(src[i])) {
      ++i;
      continue;
    }
    const size_t start = i;
    while (i < n && isIdent(src[i])) ++i;
    const std::string word = src.substr(start, i - start);
    size_t k = i;
    while (k < n && std::isspace(static_cast<unsigned char>(src[k]))) ++k;
    if ((word != "tr" && word != "N_") || k >= n || src[k] != '(') continue;
    ++k;
    int depth = 1;
    std::string pending;
    bool havePending = false, lastWasLiteral = false;
    auto finish = [&] {
      if (havePending) texts->insert(pending);
      pending.clear();
      havePending = false;
    };
    while (k < n && depth > 0) {
      const char c = src[k];
      if (c == '"' || (c == 'R' && k + 1 < n && src[k + 1] == '"')) {
        std::string literal;
        skipLexeme(k, &literal);
        if (depth == 1) {
          if (!lastWasLiteral) finish();
          pending += literal;
          havePending = lastWasLiteral = true;
        }
        continue;
      }
      if (skipLexeme(k, nullptr)) continue;  // comments keep adjacent literals joined
      if (c == '(') ++depth;
      if (c == ')') --depth;
      if (depth == 1 && c == ',') break;  // tr takes one argument
      if (!std::isspace(static_cast<unsigned char>(c))) lastWasLiteral = false;
      ++k;
    }
    finish();
    i = k;
  }
}

// The texts the given files pass to tr() or mark with N_.
std::vector<std::string> extractTexts(const std::vector<std::string>& files) {
  std::set<std::string> found;
  for (const auto& p : files) {
    std::ifstream f(p, std::ios::binary);
    std::stringstream content;
    content << f.rdbuf();
    scanTrArguments(content.str(), &found);
  }
  found.erase("");
  return std::vector<std::string>(found.begin(), found.end());
}

std::vector<std::string> sourceFiles() {
  std::vector<std::string> files;
  for (const char* folder : kTranslatedFolders) {
    std::error_code ec;
    for (const auto& entry :
         fs::directory_iterator(fs::path(testsupport::sourceDir()) / folder, ec)) {
      const std::string ext = entry.path().extension().string();
      if (entry.is_regular_file() && (ext == ".cpp" || ext == ".h"))
        files.push_back(entry.path().string());
    }
  }
  std::sort(files.begin(), files.end());
  return files;
}

std::string compiledCatalog() { return testsupport::buildDir() + "/ru/korvane_v3.mo"; }

struct Coverage {
  int total = 0, translated = 0, kept = 0;
  std::vector<std::string> missing, badFormats;
};

// Looks every text up in the catalog in force, the way the program shows it.
Coverage measure(const std::vector<std::string>& texts, const std::set<std::string>& kept) {
  Coverage c;
  for (const auto& text : texts) {
    if (!hasLetter(text) || kept.count(text)) {
      ++c.kept;
      continue;
    }
    ++c.total;
    const char* shown = tr(text.c_str());
    if (shown == text.c_str()) {  // tr hands back the very pointer it got when untranslated
      c.missing.push_back(text);
      continue;
    }
    ++c.translated;
    if (conversions(text) != conversions(shown))
      c.badFormats.push_back(text + " -> " + shown + "  [" + join(conversions(text)) + " vs " +
                             join(conversions(shown)) + "]");
  }
  return c;
}

std::string listed(const std::vector<std::string>& v) {
  std::string r;
  for (const auto& s : v) {
    r += "\n  \"";
    for (char ch : s)
      r += ch == '\n' ? std::string("\\n") : ch == '\t' ? std::string("\\t") : std::string(1, ch);
    r += "\"";
  }
  return r;
}

class CatalogCoverage : public ::testing::Test {
 protected:
  void TearDown() override { catalog_unload(); }
};

// ---- the real sources against the real catalog ----

TEST_F(CatalogCoverage, EveryTextPassedToTrHasARussianTranslationWithTheSameConversions) {
  ASSERT_EQ(catalog_load_path(compiledCatalog().c_str()), 1) << compiledCatalog();
  const std::vector<std::string> files = sourceFiles();
  ASSERT_FALSE(files.empty());
  const std::vector<std::string> texts = extractTexts(files);
  ASSERT_GT(texts.size(), 20u);  // dozens of texts go through tr(): fewer means extraction broke

  const Coverage c = measure(texts, keptEnglish());
  std::cout << "catalog coverage: " << c.translated << "/" << c.total << " texts translated ("
            << c.kept << " shown as they are, " << files.size() << " source files)" << std::endl;
  EXPECT_TRUE(c.missing.empty()) << c.missing.size()
                                 << " texts have no translation in po/ru.po:" << listed(c.missing);
  EXPECT_TRUE(c.badFormats.empty())
      << "translations whose conversions differ:" << listed(c.badFormats);
}

TEST_F(CatalogCoverage,
       TranslatedSatelliteLineStillReadsBackAsChannel15AndTheModelNameStaysEnglish) {
  ASSERT_EQ(catalog_load_path(compiledCatalog().c_str()), 1);
  const char* model = "TBL-11";  // the display list keeps this model name in English
  EXPECT_EQ(tr(model), model);
  // The satellite field shows "15 - not assigned" and reads its digits back.
  for (const char* text : {"15 - not assigned", "15 - not assigned\n"}) {
    const std::string shown = tr(text);
    EXPECT_NE(shown, text);
    ASSERT_GE(shown.size(), 3u);
    EXPECT_EQ(shown.substr(0, 2), "15") << shown;
    EXPECT_FALSE(std::isdigit(static_cast<unsigned char>(shown[2]))) << shown;
  }
}

// ---- the checker itself, on sources and catalogs made here ----

TEST_F(CatalogCoverage, ExtractionFindsTrAndN_TextsInEveryForm) {
  const std::string src = testsupport::makeTempDir() + "/sample.cpp";
  std::ofstream(src)
      << "const char* tr(const char*);\n"
         "constexpr const char* N_(const char* t) { return t; }\n"
         "const char* const kTable[] = {N_(\"Free\"), N_(\"Loading\")};\n"
         "void f(bool ok, int n) {\n"
         "  tr(\"Read settings\");\n"
         "  tr(ok ? \"Pump %02d found\" : \"Pump %02d not found\");\n"
         "  tr(\"Write meter phase error\\n\"\n"
         "     \"(all fillings must be finished)\");\n"
         "  puts(\"not for the engineer\");\n"
         "  // tr(\"in a comment\")\n"
         "  strstr(\"text\", \"boot load\");\n"
         "  tr(lookup(\"key\"));\n"
         "  tr(n > 1 ? \"Side A\" /* side */ \" channel %d\" : \"Side B channel %d\");\n"
         "}\n";
  const std::vector<std::string> texts = extractTexts({src});
  EXPECT_EQ(std::set<std::string>(texts.begin(), texts.end()),
            (std::set<std::string>{"Free", "Loading", "Read settings", "Pump %02d found",
                                   "Pump %02d not found",
                                   "Write meter phase error\n(all fillings must be finished)",
                                   "Side A channel %d", "Side B channel %d"}));
}

TEST_F(CatalogCoverage, CheckerReportsMissingTranslationsAndChangedConversions) {
  const std::string work = testsupport::makeTempDir();
  const std::string po = work + "/t.po", mo = work + "/t.mo";
  std::ofstream(po)
      << "msgid \"\"\nmsgstr \"Content-Type: text/plain; charset=UTF-8\\n\"\n\n"
         "msgid \"Restart\"\nmsgstr \"Перезапуск\"\n\n"
         "msgid \"MI-21\"\nmsgstr \"MI-21\"\n\n"
         // No c-format flag: msgfmt lets the swapped conversion through, the checker must not.
         "msgid \"Reset result=%d\"\nmsgstr \"Перезапуск, результат=%s\"\n\n"
         "msgid \"address %d, nozzle %d: %d.%02d\"\nmsgstr \"адрес %d, пистолет %d: %d.%02d\"\n";
  ASSERT_EQ(std::system(("msgfmt -o '" + mo + "' '" + po + "'").c_str()), 0);
  ASSERT_EQ(catalog_load_path(mo.c_str()), 1);
  const Coverage c =
      measure({"Restart", "MI-21", "Reset result=%d", "address %d, nozzle %d: %d.%02d",
               "Broadcast search", "4800", "%02X%02X.%02X ", "TBL-11"},
              {"TBL-11"});
  EXPECT_EQ(c.translated, 4);  // a translation equal to its text counts: the catalog holds it
  EXPECT_EQ(c.total, 5);
  EXPECT_EQ(c.kept, 3);
  EXPECT_EQ(c.missing, std::vector<std::string>{"Broadcast search"});
  ASSERT_EQ(c.badFormats.size(), 1u);
  EXPECT_EQ(c.badFormats[0].rfind("Reset result=%d", 0), 0u);
}

TEST_F(CatalogCoverage, ConversionsAreComparedByArgumentNotBySpelling) {
  EXPECT_EQ(conversions("$%02X val=$%02X (%d)"), (std::vector<std::string>{"X", "X", "d"}));
  EXPECT_EQ(conversions("%lu.%02u l\n"), (std::vector<std::string>{"lu", "u"}));
  EXPECT_EQ(conversions("100%% done %*d"), (std::vector<std::string>{"*d"}));
  EXPECT_EQ(conversions("mass flow %3d.%d, pressure  %3d.%d"), conversions("%d%d%d%d"));
  EXPECT_NE(conversions("%lu"), conversions("%u"));  // arguments of different sizes
  EXPECT_NE(conversions("%d%s"), conversions("%s%d"));
  EXPECT_EQ(conversions("50% off").size(), 1u);  // "% o" is a real (if odd) conversion
  EXPECT_EQ(conversions("bad %y").front(), "?y");
  for (const char* none : {"4800", "%02X%02X.%02X ", "%lu.%02lu"})
    EXPECT_FALSE(hasLetter(none)) << none;
  for (const char* some : {"status=%02X", "%lu.%02u l\n"}) EXPECT_TRUE(hasLetter(some)) << some;
}

}  // namespace
