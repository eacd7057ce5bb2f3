// Keeps the Russian catalog complete: every text the sources pass to tr() (or mark with N_)
// must have a translation in the compiled catalog, and every translation must keep the
// printf conversions of its English text, so a new text cannot ship untranslated unnoticed.
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
#include "ui/catalog.h"

namespace {

namespace fs = std::filesystem;

// Folders whose texts reach the engineer through tr(); the simulator is not translated.
const char* const kTranslatedFolders[] = {"util", "link", "protocol", "settings",
                                          "firmware", "ui", "cli"};

struct PoEntry {
  std::string id;
  std::string str;
  bool fuzzy = false;
};

// Undoes the C escapes of one quoted po or pot line body.
std::string unescape(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '\\' || i + 1 == s.size()) {
      out += s[i];
      continue;
    }
    char c = s[++i];
    switch (c) {
      case 'n': out += '\n'; break;
      case 't': out += '\t'; break;
      case 'r': out += '\r'; break;
      case 'a': out += '\a'; break;
      case '\\': out += '\\'; break;
      case '"': out += '"'; break;
      default: out += '\\'; out += c; break;
    }
  }
  return out;
}

// The text between the first and the last quote of a line, unescaped.
std::string quotedPart(const std::string& line) {
  size_t a = line.find('"');
  size_t b = line.rfind('"');
  if (a == std::string::npos || b <= a) return {};
  return unescape(line.substr(a + 1, b - a - 1));
}

// Reads the entries of a po or pot file (msgctxt and plural forms are not used here).
std::vector<PoEntry> parsePo(std::istream& in) {
  std::vector<PoEntry> entries;
  PoEntry cur;
  bool have = false;
  enum { None, Id, Str, Other } field = None;
  auto flush = [&] {
    if (have) entries.push_back(cur);
    cur = PoEntry();
    have = false;
    field = None;
  };
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) {
      flush();
    } else if (line.rfind("#,", 0) == 0) {
      if (have) flush();
      if (line.find("fuzzy") != std::string::npos) cur.fuzzy = true;
    } else if (line[0] == '#') {
      if (have) flush();
    } else if (line.rfind("msgid_plural", 0) == 0 || line.rfind("msgctxt", 0) == 0) {
      field = Other;
    } else if (line.rfind("msgid", 0) == 0) {
      if (have) {
        bool fuzzy = cur.fuzzy;
        flush();
        cur.fuzzy = fuzzy;
      }
      have = true;
      field = Id;
      cur.id = quotedPart(line);
    } else if (line.rfind("msgstr", 0) == 0) {
      field = Str;
      cur.str = quotedPart(line);
    } else if (line[0] == '"') {
      if (field == Id) cur.id += quotedPart(line);
      if (field == Str) cur.str += quotedPart(line);
    }
  }
  flush();
  return entries;
}

std::vector<PoEntry> parsePoFile(const std::string& path) {
  std::ifstream f(path);
  return parsePo(f);
}

// Reads the conversion that starts at the '%' at s[i]: its token is the length modifier and
// the conversion letter ("lu", "X", "*d" for a width taken from the arguments); a '%' that
// starts no valid conversion gives "?" and the next character, so it matches no real one.
// Returns the index of the conversion's last character.
size_t readConversion(const std::string& s, size_t i, std::string* token) {
  size_t j = i + 1;
  token->clear();
  while (j < s.size() && std::strchr("-+ #0'", s[j])) ++j;
  if (j < s.size() && s[j] == '*') {
    *token += '*';
    ++j;
  }
  while (j < s.size() && std::isdigit(static_cast<unsigned char>(s[j]))) ++j;
  if (j < s.size() && s[j] == '.') {
    ++j;
    if (j < s.size() && s[j] == '*') {
      *token += '*';
      ++j;
    }
    while (j < s.size() && std::isdigit(static_cast<unsigned char>(s[j]))) ++j;
  }
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
    std::string token;
    i = readConversion(s, i, &token);
    out.push_back(token);
  }
  return out;
}

std::string join(const std::vector<std::string>& v) {
  std::string r;
  for (const auto& t : v) r += (r.empty() ? "%" : " %") + t;
  return r.empty() ? "(none)" : r;
}

// Texts that have nothing to translate: numbers, formats made only of conversions and
// punctuation. A text needs a translation once it holds a letter.
bool hasLetter(const std::string& s) {
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '%') {
      // The letters of a conversion ("%02X", "%lu") are no words.
      std::string token;
      size_t end = readConversion(s, i, &token);
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
  std::string line;
  while (std::getline(f, line)) {
    if (line.empty() || line[0] == '#') continue;
    kept.insert(line);
  }
  return kept;
}

int runCommand(const std::string& cmd) { return std::system(cmd.c_str()); }

void scanTrArguments(const std::string& src, std::set<std::string>* texts);

// The texts the given files pass to tr() or mark with N_: what xgettext finds with those
// keywords, together with what the scan above finds.
std::vector<std::string> extractTexts(const std::vector<std::string>& files,
                                      const std::string& workDir) {
  const std::string list = workDir + "/files.txt";
  const std::string pot = workDir + "/texts.pot";
  {
    std::ofstream f(list);
    for (const auto& p : files) f << p << "\n";
  }
  const std::string cmd = "xgettext --keyword=tr --keyword=N_ --language=C++ --from-code=UTF-8"
                          " --no-location --force-po -o '" + pot + "' -f '" + list + "'";
  EXPECT_EQ(runCommand(cmd), 0) << cmd;
  std::set<std::string> found;
  for (const auto& e : parsePoFile(pot))
    if (!e.id.empty()) found.insert(e.id);
  for (const auto& p : files) {
    std::ifstream f(p, std::ios::binary);
    std::stringstream content;
    content << f.rdbuf();
    scanTrArguments(content.str(), &found);
  }
  found.erase("");
  return std::vector<std::string>(found.begin(), found.end());
}

// Undoes the escapes of a C++ string literal body.
std::string unescapeCpp(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '\\' || i + 1 == s.size()) {
      out += s[i];
      continue;
    }
    char c = s[++i];
    if (c >= '0' && c <= '7') {
      int v = 0, n = 0;
      while (n < 3 && i < s.size() && s[i] >= '0' && s[i] <= '7') v = v * 8 + (s[i++] - '0'), ++n;
      --i;
      out += static_cast<char>(v);
    } else if (c == 'x') {
      int v = 0;
      while (i + 1 < s.size() && std::isxdigit(static_cast<unsigned char>(s[i + 1])))
        v = v * 16 + std::stoi(std::string(1, s[++i]), nullptr, 16);
      out += static_cast<char>(v);
    } else {
      const char* from = "ntrabfv";
      const char* to = "\n\t\r\a\b\f\v";
      const char* at = std::strchr(from, c);
      out += at ? to[at - from] : c;
    }
  }
  return out;
}

// A scan of the sources of its own beside xgettext: xgettext takes only the first literal
// of an argument, so tr(ok ? "Pump %02d found" : "Pump %02d not found") would hide its
// second text. This one takes every literal at the top level of a tr( or N_( argument,
// joining literals that stand side by side.
void scanTrArguments(const std::string& src, std::set<std::string>* texts) {
  size_t i = 0;
  const size_t n = src.size();
  // Skips a comment, string or character literal that starts at i; returns false if none.
  auto skipLexeme = [&](size_t& k, std::string* literal) -> bool {
    if (src.compare(k, 2, "//") == 0) {
      k = src.find('\n', k);
      if (k == std::string::npos) k = n;
      return true;
    }
    if (src.compare(k, 2, "/*") == 0) {
      k = src.find("*/", k + 2);
      k = k == std::string::npos ? n : k + 2;
      return true;
    }
    if (src[k] == 'R' && k + 1 < n && src[k + 1] == '"') {
      size_t open = src.find('(', k + 2);
      if (open == std::string::npos) return false;
      std::string close = ")" + src.substr(k + 2, open - k - 2) + "\"";
      size_t end = src.find(close, open + 1);
      if (end == std::string::npos) end = n;
      if (literal) *literal = src.substr(open + 1, end - open - 1);
      k = std::min(n, end + close.size());
      return true;
    }
    if (src[k] == '"' || src[k] == '\'') {
      const char q = src[k];
      size_t j = k + 1;
      std::string body;
      while (j < n && src[j] != q) {
        if (src[j] == '\\' && j + 1 < n) body += src[j++];
        body += src[j++];
      }
      if (literal && q == '"') *literal = unescapeCpp(body);
      k = std::min(n, j + 1);
      return true;
    }
    return false;
  };
  auto isIdent = [](char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; };
  while (i < n) {
    if (skipLexeme(i, nullptr)) continue;
    if (!isIdent(src[i])) {
      ++i;
      continue;
    }
    size_t start = i;
    while (i < n && isIdent(src[i])) ++i;
    const std::string word = src.substr(start, i - start);
    if (word != "tr" && word != "N_") continue;
    size_t k = i;
    while (k < n && std::isspace(static_cast<unsigned char>(src[k]))) ++k;
    if (k >= n || src[k] != '(') continue;
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
      std::string literal;
      const char c = src[k];
      if (c == '"' || (c == 'R' && k + 1 < n && src[k + 1] == '"')) {
        skipLexeme(k, &literal);
        if (depth == 1) {
          if (!lastWasLiteral) finish();
          pending += literal;
          havePending = true;
          lastWasLiteral = true;
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

std::vector<std::string> sourceFiles() {
  std::vector<std::string> files;
  for (const char* folder : kTranslatedFolders) {
    fs::path dir = fs::path(testsupport::sourceDir()) / folder;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(dir, ec)) {
      const std::string ext = entry.path().extension().string();
      if (entry.is_regular_file() && (ext == ".cpp" || ext == ".h")) files.push_back(entry.path());
    }
  }
  std::sort(files.begin(), files.end());
  return files;
}

std::string compiledCatalog() { return testsupport::buildDir() + "/ru/korvane_v3.mo"; }

struct Coverage {
  int total = 0;
  int translated = 0;
  int kept = 0;
  std::vector<std::string> missing;
  std::vector<std::string> badFormats;
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
    // tr hands back the very pointer it got when the catalog has no translation.
    if (shown == text.c_str()) {
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
    std::string one;
    for (char ch : s) one += ch == '\n' ? std::string("\\n") : ch == '\t' ? std::string("\\t")
                                                                          : std::string(1, ch);
    r += "\n  \"" + one + "\"";
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
  const std::string work = testsupport::makeTempDir();
  const std::vector<std::string> files = sourceFiles();
  ASSERT_FALSE(files.empty());
  const std::vector<std::string> texts = extractTexts(files, work);
  // The program passes dozens of texts through tr(); an empty list means the extraction broke.
  ASSERT_GT(texts.size(), 20u);

  Coverage c = measure(texts, keptEnglish());
  std::cout << "catalog coverage: " << c.translated << "/" << c.total
            << " texts translated (" << c.kept << " shown as they are, " << files.size()
            << " source files)" << std::endl;
  RecordProperty("translated", c.translated);
  RecordProperty("total", c.total);
  EXPECT_TRUE(c.missing.empty()) << c.missing.size()
                                 << " texts have no translation in po/ru.po:" << listed(c.missing);
  EXPECT_TRUE(c.badFormats.empty()) << "translations whose conversions differ:"
                                    << listed(c.badFormats);
}

TEST_F(CatalogCoverage, EveryCatalogEntryKeepsItsConversionsAndIsNotFuzzy) {
  const auto entries = parsePoFile(testsupport::sourceDir() + "/po/ru.po");
  ASSERT_GT(entries.size(), 100u);
  std::vector<std::string> bad, fuzzy, empty;
  std::set<std::string> seen;
  for (const auto& e : entries) {
    if (e.id.empty()) continue;  // the header
    if (e.fuzzy) fuzzy.push_back(e.id);
    if (e.str.empty()) empty.push_back(e.id);
    if (conversions(e.id) != conversions(e.str))
      bad.push_back(e.id + " [" + join(conversions(e.id)) + " vs " + join(conversions(e.str)) +
                    "]");
    // A translation must keep a text's leading and trailing line breaks: log lines and
    // multi-line fields are built by joining them.
    auto lead = [](const std::string& s) { return !s.empty() && s.front() == '\n'; };
    auto trail = [](const std::string& s) { return !s.empty() && s.back() == '\n'; };
    if (!e.str.empty() && (lead(e.id) != lead(e.str) || trail(e.id) != trail(e.str)))
      bad.push_back(e.id + " [line breaks at the ends differ]");
    seen.insert(e.id);
  }
  EXPECT_TRUE(bad.empty()) << listed(bad);
  EXPECT_TRUE(fuzzy.empty()) << "fuzzy entries are dropped by msgfmt:" << listed(fuzzy);
  EXPECT_TRUE(empty.empty()) << "entries without a translation:" << listed(empty);
  // The display list keeps this model name in English.
  EXPECT_EQ(seen.count("TBL-11"), 0u);
}

TEST_F(CatalogCoverage, TranslatedSatelliteLineStillReadsBackAsChannel15) {
  // The satellite field shows "15 - not assigned" and reads its digits back, so the
  // translation must start with the same number.
  ASSERT_EQ(catalog_load_path(compiledCatalog().c_str()), 1);
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
  const std::string work = testsupport::makeTempDir();
  const std::string src = work + "/sample.cpp";
  {
    std::ofstream f(src);
    f << "const char* tr(const char*);\n"
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
         "  (void)n;\n"
         "}\n";
  }
  std::vector<std::string> texts = extractTexts({src}, work);
  std::set<std::string> got(texts.begin(), texts.end());
  std::set<std::string> want = {"Free", "Loading", "Read settings", "Pump %02d found",
                                "Pump %02d not found",
                                "Write meter phase error\n(all fillings must be finished)",
                                "Side A channel %d", "Side B channel %d"};
  EXPECT_EQ(got, want);
}

TEST_F(CatalogCoverage, CheckerReportsMissingTranslationsAndChangedConversions) {
  const std::string work = testsupport::makeTempDir();
  const std::string po = work + "/t.po", mo = work + "/t.mo";
  {
    std::ofstream f(po);
    f << "msgid \"\"\nmsgstr \"Content-Type: text/plain; charset=UTF-8\\n\"\n\n"
         "msgid \"Restart\"\nmsgstr \"Перезапуск\"\n\n"
         "msgid \"MI-21\"\nmsgstr \"MI-21\"\n\n"
         // Written without the c-format flag, so msgfmt lets the swapped conversions through
         // and only the checker can catch them.
         "msgid \"Reset result=%d\"\nmsgstr \"Перезапуск, результат=%s\"\n\n"
         "msgid \"address %d, nozzle %d: %d.%02d\"\nmsgstr \"адрес %d, пистолет %d: %d.%02d\"\n";
  }
  ASSERT_EQ(runCommand("msgfmt -o '" + mo + "' '" + po + "'"), 0);
  ASSERT_EQ(catalog_load_path(mo.c_str()), 1);

  Coverage c = measure({"Restart", "MI-21", "Reset result=%d", "address %d, nozzle %d: %d.%02d",
                        "Broadcast search", "4800", "%02X%02X.%02X ", "TBL-11"},
                       {"TBL-11"});
  // A translation equal to its text still counts: the catalog holds it on purpose.
  EXPECT_EQ(c.translated, 4);
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
  // %lu and %u take arguments of different sizes: a translation may not swap them.
  EXPECT_NE(conversions("%lu"), conversions("%u"));
  EXPECT_NE(conversions("%d%s"), conversions("%s%d"));
  EXPECT_EQ(conversions("50% off").size(), 1u);  // "% o" is a real (if odd) conversion
  EXPECT_EQ(conversions("bad %y").front(), "?y");

  EXPECT_FALSE(hasLetter("4800"));
  EXPECT_FALSE(hasLetter("%02X%02X.%02X "));
  EXPECT_FALSE(hasLetter("%lu.%02lu"));
  EXPECT_TRUE(hasLetter("status=%02X"));
  EXPECT_TRUE(hasLetter("%lu.%02u l\n"));
}

TEST_F(CatalogCoverage, PoReaderJoinsContinuationLinesAndUndoesEscapes) {
  std::istringstream in(
      "# comment\n"
      "msgid \"\"\nmsgstr \"Language: ru\\n\"\n\n"
      "#, fuzzy\nmsgid \"Old\"\nmsgstr \"Старый\"\n\n"
      "msgid \"\"\n\"Please finish pending\\n\"\n\"fuel deliveries\\n\"\n"
      "msgstr \"Завершите\\n\"\n\"отпуски\\t\\\"топлива\\\"\\n\"\n");
  auto e = parsePo(in);
  ASSERT_EQ(e.size(), 3u);
  EXPECT_TRUE(e[1].fuzzy);
  EXPECT_FALSE(e[2].fuzzy);
  EXPECT_EQ(e[2].id, "Please finish pending\nfuel deliveries\n");
  EXPECT_EQ(e[2].str, "Завершите\nотпуски\t\"топлива\"\n");
}

}  // namespace
