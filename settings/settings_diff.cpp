// Field-by-field comparison of settings records and settings files, by file key.
#include "settings/settings_diff.h"

#include <cerrno>
#include <cstring>

#include "settings/settings_json.h"
#include "util/catalog.h"
#include "util/operator.h"

namespace {

template <size_t N>
void diffRecord(const SettingsRecord<N>& a, const SettingsRecord<N>& b, const RecordField* fields,
                size_t count, std::vector<FieldChange>* out) {
  for (size_t i = 0; i < count; ++i) {
    const RecordField& f = fields[i];
    if (!f.keyed || a.get(f) == b.get(f)) continue;
    out->push_back({f.name, std::to_string(a.get(f)), std::to_string(b.get(f))});
  }
}

}  // namespace

std::vector<FieldChange> diffSettings(const MainSettings& beforeMain,
                                      const ExtraSettings& beforeExtra,
                                      const MainSettings& afterMain,
                                      const ExtraSettings& afterExtra) {
  std::vector<FieldChange> out;
  diffRecord(beforeMain, afterMain, kMainFields, kMainFieldCount, &out);
  diffRecord(beforeExtra, afterExtra, kExtraFields, kExtraFieldCount, &out);
  return out;
}

std::string fieldChangeLine(const FieldChange& c) {
  return c.key + ": " + c.before + " \xE2\x86\x92 " + c.after;
}

int readSettingsFileContent(const std::string& path, SettingsFileContent* out) {
  SettingsFileContent c;
  std::vector<std::string> applied;
  const int r = loadSettingsFile(path, &c.main, &c.extra, &c.skipped, &applied);
  if (r != kJsonOk) return r;
  c.mainKeySet.assign(kMainFieldCount, false);
  for (size_t i = 0; i < kMainFieldCount; ++i) {
    const std::string key = std::string("main_setts.") + kMainFields[i].name;
    for (const std::string& a : applied)
      if (a == key) c.mainKeySet[i] = true;
  }
  *out = std::move(c);
  return kJsonOk;
}

std::string settingsLoadErrorText(int code, int err) {
  switch (code) {
    case kJsonCannotOpen:
      return std::strerror(err);
    case kJsonNotJson:
      return tr("not a JSON text, or longer than a settings file can be");
    default:
      return tr("no \"main_setts\" or no \"mass_setts\" object");
  }
}

std::vector<FieldChange> diffSettingsFiles(const SettingsFileContent& a,
                                           const SettingsFileContent& b) {
  std::vector<FieldChange> out;
  const char* absent = tr("(not in file)");
  for (size_t i = 0; i < kMainFieldCount; ++i) {
    const RecordField& f = kMainFields[i];
    if (!f.keyed) continue;
    const bool inA = i < a.mainKeySet.size() && a.mainKeySet[i];
    const bool inB = i < b.mainKeySet.size() && b.mainKeySet[i];
    if (!inA && !inB) continue;  // both leave the board's own value
    if (inA && inB && a.main.get(f) == b.main.get(f)) continue;
    out.push_back({f.name, inA ? std::to_string(a.main.get(f)) : absent,
                   inB ? std::to_string(b.main.get(f)) : absent});
  }
  // Extra keys missing from a file are written as 0, which the records already hold.
  diffRecord(a.extra, b.extra, kExtraFields, kExtraFieldCount, &out);
  return out;
}
