// Writing and reading the settings file with the field tables of both records.
#include "settings/settings_json.h"

#include <cjson/cJSON.h>

#include <cerrno>
#include <cstdio>
#include <memory>

#include "util/files.h"
#include "util/number_text.h"
#include "util/operator.h"

namespace {

template <size_t N>
void writeObject(std::string* out, const SettingsRecord<N>& rec, const RecordField* fields,
                 size_t count) {
  bool first = true;
  for (size_t i = 0; i < count; ++i) {
    const RecordField& f = fields[i];
    if (!f.keyed) continue;
    if (!first) *out += ',';
    first = false;
    *out += strprintf("\"%s\":\"%u\"\n", f.name, rec.get(f));
  }
}

// An unsigned decimal string that fits in 32 bits (leading white space and '+' allowed).
bool decimalValue(const cJSON* item, uint32_t* out) {
  if (!cJSON_IsString(item) || item->valuestring == nullptr) return false;
  return parseLeadingU32(item->valuestring, LeadingBlanks::Any, out);
}

template <size_t N>
void readObject(const cJSON* obj, const char* objName, SettingsRecord<N>* rec,
                const RecordField* fields, size_t count, std::vector<std::string>* skipped,
                std::vector<std::string>* applied) {
  for (size_t i = 0; i < count; ++i) {
    const RecordField& f = fields[i];
    if (!f.keyed) continue;
    const cJSON* item = cJSON_GetObjectItem(obj, f.name);  // letter case does not matter
    if (!item) continue;
    uint32_t v;
    if (!decimalValue(item, &v)) {
      if (skipped) skipped->push_back(std::string(objName) + "." + f.name);
      continue;
    }
    rec->set(f, v);  // the low width bytes, little-endian
    if (applied) applied->push_back(std::string(objName) + "." + f.name);
  }
}

struct JsonDeleter {
  void operator()(cJSON* p) const { cJSON_Delete(p); }
};

}  // namespace

std::string settingsFileText(const MainSettings& main, const ExtraSettings& extra) {
  std::string t = "{\"main_setts\":{";
  writeObject(&t, main, kMainFields, kMainFieldCount);
  t += "},\"mass_setts\":{";
  writeObject(&t, extra, kExtraFields, kExtraFieldCount);
  t += "}}\n";
  return t;
}

int saveSettingsFile(const std::string& path, const MainSettings& main,
                     const ExtraSettings& extra) {
  return saveTextFileAtomically(path, settingsFileText(main, extra));
}

int saveTextFileAtomically(const std::string& path, const std::string& text) {
  // Written beside the chosen name, flushed to the disk and moved over it in one step, so
  // that neither a full disk nor a crash can leave a cut file under that name. errno tells
  // the caller why it failed.
  return fileReplaceContents(path, text) == 0 ? kJsonOk : kJsonCannotOpen;
}

int loadSettingsText(const std::string& text, MainSettings* main, ExtraSettings* extra,
                     std::vector<std::string>* skipped, std::vector<std::string>* applied) {
  std::unique_ptr<cJSON, JsonDeleter> doc(cJSON_Parse(text.c_str()));
  if (!doc) return kJsonNotJson;
  const cJSON* mainObj = cJSON_GetObjectItem(doc.get(), "main_setts");
  const cJSON* massObj = cJSON_GetObjectItem(doc.get(), "mass_setts");
  if (!cJSON_IsObject(mainObj) || !cJSON_IsObject(massObj)) return kJsonMissingObject;
  MainSettings m = *main;
  ExtraSettings e = *extra;
  readObject(mainObj, "main_setts", &m, kMainFields, kMainFieldCount, skipped, applied);
  readObject(massObj, "mass_setts", &e, kExtraFields, kExtraFieldCount, skipped, applied);
  *main = m;
  *extra = e;
  return kJsonOk;
}

int loadSettingsFile(const std::string& path, MainSettings* main, ExtraSettings* extra,
                     std::vector<std::string>* skipped, std::vector<std::string>* applied) {
  FILE* f = fileOpen(path, "rb");
  if (!f) return kJsonCannotOpen;
  std::string text(kSettingsFileMaxBytes, '\0');
  size_t n = std::fread(&text[0], 1, kSettingsFileMaxBytes, f);
  std::fclose(f);
  text.resize(n);
  // A NUL inside the file ends the text there, as it would for the parser.
  text.resize(std::char_traits<char>::length(text.c_str()));
  return loadSettingsText(text, main, extra, skipped, applied);
}

std::string settingsFileName(const std::string& chosen) {
  if (chosen.find(".json") != std::string::npos) return chosen;
  return chosen + ".json";
}
