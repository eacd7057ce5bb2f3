// Codecs between the settings records and the forms of the "Main settings" and "Extra
// settings" tabs, the coupled-control rules and the number readers they share.
#include "settings/settings_form.h"

#include <cinttypes>
#include <cstdio>

#include "util/catalog.h"
#include "util/number_text.h"
#include "util/operator.h"

const char* const kMsgSideAddressesSame = "Side addresses must not be the same";
const char* const kMsgSideAddressRange = "Side addresses must be 1..0x20";
const char* const kMsgAztRange = "AZT addresses must be 1..210";
const char* const kMsgAztOverlap = "AZT addresses overlap";
const char* const kMsgSatelliteOverlap = "Satellite channels overlap";
const char* const kMsgSatelliteRange = "Satellite channels must be 0..15";
const char* const kMsgFastTokheim = "Must be 2 nozzles set for fast Tokheim";
const char* const kMsgMixedTokheim = "Must be 2 or more nozzles set for mixed Tokheim";

namespace {

constexpr uint8_t kSideAddressMax = 0x20;
constexpr uint32_t kAztMin = 1;
constexpr uint32_t kAztMax = 210;
constexpr uint32_t kAztNoneTyped = 65535;  // side B "no address", stored as 0xFF
constexpr uint8_t kAztNoneStored = 0xFF;
constexpr size_t kSatelliteTextMax = 999;
constexpr uint32_t kSatelliteNotAssigned = 15;
constexpr uint32_t kSatelliteEntryCap = 100000;  // scanning stops growing a value here
constexpr int kSlowStartImmediate = 25500;
constexpr int kOverfillNoCounting = 2550;
constexpr int kOverfillCount3s = 2540;
constexpr uint8_t kSmartTimeoutDefault = 3;
constexpr uint8_t kSmartMeasureDefault = 1;
constexpr int kFastTokheimBit = 2;
constexpr int kFastTokheimFatBit = 7;
constexpr int kMixedTokheimBit = 9;

int choiceItemCount(MainControl c) {
  switch (c) {
    case MainControl::PrimaryChannel:
    case MainControl::Peripherals:
      return 4;
    case MainControl::SideCount:
      return 2;
    case MainControl::NozzleCount:
      return 5;
    case MainControl::DisplayA:
    case MainControl::DisplayB:
      return 18;
    default:
      return 0;
  }
}

// A choice takes item; -1 clears it; an item beyond the list leaves it as it was.
void setChoice(int* choice, long item, int count) {
  if (item == -1)
    *choice = -1;
  else if (item >= 0 && item < count)
    *choice = static_cast<int>(item);
}

std::string u(uint32_t v) { return strprintf("%" PRIu32, v); }

// "%u.%u.%u.%u": octets not matched are 0.
void parseIpv4(const std::string& text, uint8_t octets[4]) {
  for (int i = 0; i < 4; ++i) octets[i] = 0;
  const char* p = text.c_str();
  for (int i = 0; i < 4; ++i) {
    if (i > 0) {
      if (*p != '.') return;
      ++p;
    }
    uint32_t v;
    if (!readSaturatingU32(&p, &v)) return;
    octets[i] = static_cast<uint8_t>(v & 0xFF);
  }
}

bool inRange(uint32_t v, uint32_t lo, uint32_t hi) { return v >= lo && v <= hi; }

CollectResult fail(const char* msg, MainControl focus) {
  CollectResult r;
  r.ok = false;
  r.message = msg;
  r.focus = focus;
  return r;
}
}  // namespace

MainSettingsForm::MainSettingsForm() {
  choice.fill(-1);
  for (const ControlDesc& d : kMainControls)
    if (d.kind == ControlKind::Input || d.kind == ControlKind::MultiLine) text[d.id] = "0";
}

ExtraSettingsForm::ExtraSettingsForm() {
  for (const ControlDesc& d : kExtraControls)
    if (d.kind == ControlKind::Input) text[d.id] = "0";
}

// ---------------------------------------------------------------- satellite channels

SatelliteScan scanSatelliteText(const std::string& full) {
  SatelliteScan s;
  const std::string text = full.substr(0, kSatelliteTextMax);
  uint32_t value = 0;
  size_t index = 0;
  size_t i = 0;
  while (i < text.size() && index < 4) {
    char c = text[i];
    if (c >= '0' && c <= '9') {
      if (value < kSatelliteEntryCap) value = value * 10 + static_cast<uint32_t>(c - '0');
      ++i;
    } else if (c == '\n') {
      s.entries[index++] = value;
      value = 0;
      ++i;
    } else {
      while (i < text.size() && text[i] != '\n') ++i;
    }
  }
  if (i >= text.size() && value != 0 && index <= 3) s.entries[index] = value;
  return s;
}

std::string satelliteText(uint16_t word, const char* notAssigned) {
  std::string t;
  for (int k = 0; k < 4; ++k) {
    unsigned n = (word >> (4 * k)) & 0xF;
    if (n == kSatelliteNotAssigned)
      t += notAssigned;
    else
      t += strprintf("%u\n", n);
  }
  return t;
}

// ---------------------------------------------------------------- main settings

void displayMainSettings(const MainSettings& rec, MainSettingsForm* f) {
  const unsigned nozzles = rec.get(ms::noz_count);
  for (size_t i = 0; i < kMainFieldCount; ++i) {
    const RecordField& fd = kMainFields[i];
    const uint32_t v = rec.get(fd);
    const MainControl c = static_cast<MainControl>(fd.control);
    switch (fd.codec) {
      case FieldCodec::Hidden:
        break;
      case FieldCodec::BaudChoice:
        for (int k = 0; k < 4; ++k)
          if (kBaudCodes[k] == v) f->choiceOf(c) = k;
        break;
      case FieldCodec::CountChoice:
        setChoice(&f->choiceOf(c), static_cast<long>(v) - 1, choiceItemCount(c));
        break;
      case FieldCodec::DisplayChoice:
        setChoice(&f->choiceOf(c), static_cast<long>(v), choiceItemCount(c));
        break;
      case FieldCodec::SideAddress:
      case FieldCodec::Decimal:
        f->textOf(c) = u(v);
        break;
      case FieldCodec::Scaled:
        f->textOf(c) = u(v * fd.param);
        break;
      case FieldCodec::Satellite:
        f->textOf(c) = satelliteText(static_cast<uint16_t>(v), tr("15 - not assigned\n"));
        break;
      case FieldCodec::AztCell:
        if (fd.param < kAztColumns) {
          auto& cells = (c == MainControl::AztSideA) ? f->aztA : f->aztB;
          cells[fd.param] =
              fd.param < nozzles ? strprintf("%d", static_cast<int>(v)) : std::string();
        }
        break;
      case FieldCodec::FlagList:
        for (int b = 0; b < fd.param; ++b) {
          bool set = (v >> b) & 1u;
          if (c == MainControl::ModeList)
            f->modes[b] = set;
          else
            f->modes2[b] = set;
        }
        break;
      case FieldCodec::DotFlags: {
        const uint32_t dot = v & 0x6;
        f->onOf(MainControl::PriceDotXXXX) = dot == 0x2;
        f->onOf(MainControl::PriceDotXXXY) = dot == 0x4;
        f->onOf(MainControl::PriceDotXXYY) = dot != 0x2 && dot != 0x4;
        f->textOf(MainControl::ShiftPriceLeft) = u((v >> 3) & 7);
        f->onOf(MainControl::VolumeDot) = (v >> 6) & 1u;
        break;
      }
      default:
        break;
    }
  }
  const uint32_t slow = rec.get(ms::slow_start);
  f->onOf(MainControl::ImmediateStart) = slow == 255;
  f->onOf(MainControl::Start20ml) = slow == 0;
  const uint32_t hydro = rec.get(ms::hydro_hit);
  f->onOf(MainControl::NoCounting) = hydro == 255;
  f->onOf(MainControl::Count3Seconds) = hydro == 254;
}

CollectResult collectMainSettings(const MainSettingsForm& f, MainSettings* out) {
  MainSettings& r = *out;
  r.bytes.fill(0);
  r.set(ms::rec_tag, kRecTag);

  auto baud = [&](MainControl c) -> uint32_t {
    int k = f.choiceOf(c);
    return (k >= 0 && k < 4) ? kBaudCodes[k] : 0;
  };
  r.set(ms::pc_baud, baud(MainControl::PrimaryChannel));
  r.set(ms::per_baud, baud(MainControl::Peripherals));

  const int sideChoice = f.choiceOf(MainControl::SideCount);
  const uint32_t sides = static_cast<uint32_t>(sideChoice + 1);  // 0 when none chosen
  r.set(ms::side_count, sides);

  const uint32_t sideA = parseUnsigned(f.textOf(MainControl::SideAAddress));
  uint32_t sideB = 0;
  if (sides == 1) {
    if (sideA == 0) return fail(kMsgSideAddressesSame, MainControl::SideBAddress);
    if (!inRange(sideA, 1, kSideAddressMax))
      return fail(kMsgSideAddressRange, MainControl::SideAAddress);
  } else {
    sideB = parseUnsigned(f.textOf(MainControl::SideBAddress));
    if (sideA == sideB) return fail(kMsgSideAddressesSame, MainControl::SideBAddress);
    if (!inRange(sideA, 1, kSideAddressMax))
      return fail(kMsgSideAddressRange, MainControl::SideAAddress);
    if (!inRange(sideB, 1, kSideAddressMax))
      return fail(kMsgSideAddressRange, MainControl::SideBAddress);
  }
  r.set(ms::side_addr0, sideA);
  r.set(ms::side_addr1, sideB);

  const uint32_t nozzles = static_cast<uint32_t>(f.choiceOf(MainControl::NozzleCount) + 1);
  r.set(ms::noz_count, nozzles);

  const uint32_t columns = nozzles < static_cast<uint32_t>(kAztColumns) ? nozzles : kAztColumns;
  for (uint32_t col = 0; col < columns; ++col) {
    const uint32_t a = parseUnsigned(f.aztA[col]);
    r.set(ms::nara(2 * col), a & 0xFF);
    if (sides > 1) {
      const uint32_t b = parseUnsigned(f.aztB[col]);
      // 65535 marks a side B nozzle without an AZT address and is stored as 0xFF; the board's
      // 0xFF is shown back as 255, so 255 is taken as the same marker, or a record read from
      // the board could not be saved again without retyping every such cell.
      const bool none = b == kAztNoneTyped || b == kAztNoneStored;
      r.set(ms::nara(2 * col + 1), none ? kAztNoneStored : (b & 0xFF));
      if (!inRange(a, kAztMin, kAztMax)) return fail(kMsgAztRange, MainControl::AztSideA);
      if (!inRange(b, kAztMin, kAztMax) && !none) return fail(kMsgAztRange, MainControl::AztSideB);
    } else if (!inRange(a, kAztMin, kAztMax)) {
      return fail(kMsgAztRange, MainControl::AztSideA);
    }
  }

  // Overlap among the entries in use. Side B entries marked "no address" are left out: two
  // nozzles without an address do not share one, and counting them would refuse every
  // record with more than one such nozzle.
  if (sides >= 1) {
    std::array<int, 12> used{};
    size_t n = 0;
    for (uint32_t col = 0; col < columns; ++col) {
      used[n++] = r.get(ms::nara(2 * col));
      if (sides > 1) {
        uint32_t b = r.get(ms::nara(2 * col + 1));
        if (b != kAztNoneStored) used[n++] = static_cast<int>(b);
      }
    }
    for (size_t i = 0; i < n; ++i)
      for (size_t j = i + 1; j < n; ++j)
        if (used[i] == used[j]) return fail(kMsgAztOverlap, MainControl::AztSideA);
  }

  auto display = [&](MainControl c) -> uint32_t {
    int k = f.choiceOf(c);
    return k < 0 ? 0xFF : static_cast<uint32_t>(k) & 0xFF;
  };
  r.set(ms::tbl_type0, display(MainControl::DisplayA));
  r.set(ms::tbl_type1, display(MainControl::DisplayB));

  for (size_t i = 0; i < kMainFieldCount; ++i) {
    const RecordField& fd = kMainFields[i];
    const MainControl c = static_cast<MainControl>(fd.control);
    if (fd.codec == FieldCodec::Scaled)
      r.set(fd, static_cast<uint32_t>(parseLeadingInt(f.textOf(c)) / fd.param) & 0xFF);
  }
  for (size_t i = 0; i < kMainFieldCount; ++i) {
    const RecordField& fd = kMainFields[i];
    if (fd.codec == FieldCodec::Decimal)
      r.set(fd, parseUnsigned(f.textOf(static_cast<MainControl>(fd.control))));
  }

  const SatelliteScan sat = scanSatelliteText(f.textOf(MainControl::Satellite));
  for (uint32_t e : sat.entries)
    if (e > kSatelliteNotAssigned) return fail(kMsgSatelliteRange, MainControl::Satellite);
  const uint32_t word =
      sat.entries[0] | sat.entries[1] << 4 | sat.entries[2] << 8 | sat.entries[3] << 12;
  if (word == 0) {
    r.set(ms::sat_channel, 0xFFFF);
  } else {
    r.set(ms::sat_channel, word);
    for (int i = 0; i < 4; ++i)
      for (int j = i + 1; j < 4; ++j)
        if (sat.entries[i] == sat.entries[j] && sat.entries[i] != kSatelliteNotAssigned)
          return fail(kMsgSatelliteOverlap, MainControl::Satellite);
  }

  uint32_t dot = (static_cast<uint32_t>(parseLeadingInt(f.textOf(MainControl::ShiftPriceLeft))) & 7)
                 << 3;
  uint32_t modes = 0, modes2 = 0;
  for (int b = 0; b < 16; ++b)
    if (f.modes[b]) modes |= 1u << b;
  for (int b = 0; b < 11; ++b)
    if (f.modes2[b]) modes2 |= 1u << b;
  r.set(ms::trk_modes, modes);
  r.set(ms::trk_modes2, modes2);
  if (f.onOf(MainControl::PriceDotXXXX))
    dot |= 0x2;
  else if (f.onOf(MainControl::PriceDotXXXY))
    dot |= 0x4;
  if (f.onOf(MainControl::VolumeDot)) dot |= 0x40;
  r.set(ms::tbl_dot_flags, dot);

  if ((modes2 >> kFastTokheimBit & 1u) || (modes2 >> kFastTokheimFatBit & 1u)) {
    if (nozzles != 2) return fail(kMsgFastTokheim, MainControl::NozzleCount);
  } else if ((modes2 >> kMixedTokheimBit & 1u) && nozzles < 2) {
    return fail(kMsgMixedTokheim, MainControl::NozzleCount);
  }
  return CollectResult{};
}

// ---------------------------------------------------------------- coupled controls

// Each pair of options stands for a value of its field: choosing one writes the value, and
// the options then follow the field exactly as when the value is typed.
void onSlowStartEdited(MainSettingsForm* f) {
  const int64_t v = parseLeadingInt(f->textOf(MainControl::SlowStart));
  f->onOf(MainControl::ImmediateStart) = v == kSlowStartImmediate;
  f->onOf(MainControl::Start20ml) = v == 0;
}

void onImmediateStartChosen(MainSettingsForm* f) {
  f->textOf(MainControl::SlowStart) = std::to_string(kSlowStartImmediate);
  onSlowStartEdited(f);
}

void onStart20mlChosen(MainSettingsForm* f) {
  f->textOf(MainControl::SlowStart) = "0";
  onSlowStartEdited(f);
}

void onOverfillBufferEdited(MainSettingsForm* f) {
  const int64_t v = parseLeadingInt(f->textOf(MainControl::OverfillBuffer));
  f->onOf(MainControl::NoCounting) = v == kOverfillNoCounting;
  f->onOf(MainControl::Count3Seconds) = v == kOverfillCount3s;
}

void onNoCountingChosen(MainSettingsForm* f) {
  f->textOf(MainControl::OverfillBuffer) = std::to_string(kOverfillNoCounting);
  onOverfillBufferEdited(f);
}

void onCount3SecondsChosen(MainSettingsForm* f) {
  f->textOf(MainControl::OverfillBuffer) = std::to_string(kOverfillCount3s);
  onOverfillBufferEdited(f);
}

void applyExclusiveOptions(std::array<bool, 11>* modes2) {
  if ((*modes2)[kFastTokheimBit]) {
    (*modes2)[kFastTokheimFatBit] = false;
    (*modes2)[kMixedTokheimBit] = false;
  }
}

PasswordView passwordView(const PasswordStatus& st, bool calibration) {
  const bool set = calibration ? st.calibrationSet() : st.adminSet();
  const bool locked = calibration ? st.calibrationLocked() : st.adminLocked();
  // The mark follows the lock bits alone: a board can lock the entry even while it
  // reports no password set, and the marked field is what warns the engineer of that.
  if (!set) return {"Not set", locked};
  if (locked) return {"Locked", locked};
  return {"****", locked};
}

// ---------------------------------------------------------------- extra settings

void displayExtraSettings(const ExtraSettings& rec, const uint16_t* raw, ExtraSettingsForm* f) {
  for (size_t i = 0; i < kExtraFieldCount; ++i) {
    const RecordField& fd = kExtraFields[i];
    const uint32_t v = rec.get(fd);
    const ExtraControl c = static_cast<ExtraControl>(fd.control);
    switch (fd.codec) {
      case FieldCodec::Decimal:
        f->textOf(c) = u(v);
        break;
      case FieldCodec::Tenths:
        f->textOf(c) = strprintf("%u.%u", v / 10, v % 10);
        break;
      case FieldCodec::SignedTenths:
        f->textOf(c) = strprintf("%.1f", static_cast<int16_t>(v) / 10.0);
        break;
      case FieldCodec::Density:
        f->textOf(c) = strprintf("%.4f", v / 10000.0);
        break;
      case FieldCodec::Hex:
        f->textOf(c) = strprintf("0x%X", v);
        break;
      case FieldCodec::Ipv4:
        if (fd.param == 0) {
          const uint8_t* o = &rec.bytes[fd.offset];
          f->textOf(c) = strprintf("%u.%u.%u.%u", o[0], o[1], o[2], o[3]);
        }
        break;
      case FieldCodec::SmartFillTmt:
        f->textOf(ExtraControl::FinalPressureTimeout) = u(v & 0xF);
        f->textOf(ExtraControl::FinalPressureMeasureTime) = u(v >> 4);
        break;
      case FieldCodec::MassFlags: {
        for (int b = 0; b < 8; ++b) f->massFlags[b] = (v >> b) & 1u;
        const uint32_t type = v >> es::kMassTypeShift;
        if (type < 4) f->massmeterType = static_cast<int>(type);
        break;
      }
      default:
        break;
    }
  }
  if (raw)
    f->textOf(ExtraControl::PressureDebug) = strprintf(
        "0x%03X, 0x%03X", static_cast<unsigned>(raw[0] >> 4), static_cast<unsigned>(raw[1] >> 4));
}

ExtraSettings collectExtraSettings(const ExtraSettings& base, const ExtraSettingsForm& f) {
  ExtraSettings r = base;
  for (size_t i = 0; i < kExtraFieldCount; ++i) {
    const RecordField& fd = kExtraFields[i];
    const ExtraControl c = static_cast<ExtraControl>(fd.control);
    switch (fd.codec) {
      case FieldCodec::MassFlags: {
        uint32_t v = 0;
        for (int b = 0; b < 8; ++b)
          if (f.massFlags[b]) v |= 1u << b;
        const uint32_t type = (f.massmeterType >= 0 && f.massmeterType < 4)
                                  ? static_cast<uint32_t>(f.massmeterType)
                                  : es::kMassTypeNone;
        r.set(fd, v | type << es::kMassTypeShift);
        break;
      }
      case FieldCodec::Decimal:
        r.set(fd, parseUnsigned(f.textOf(c)));
        break;
      case FieldCodec::Tenths:
      case FieldCodec::SignedTenths:
        r.set(fd, static_cast<uint32_t>(parseScaledDecimal(f.textOf(c), 1)));
        break;
      case FieldCodec::Density: {
        // truncate((typed + 0.00005) x 10000), computed exactly in units of 1e-5
        const int64_t x = parseScaledDecimal(f.textOf(c), 5) + 5;
        r.set(fd, static_cast<uint32_t>(x / 10));
        break;
      }
      case FieldCodec::Hex:
        r.set(fd, parseHexAfterPrefix(f.textOf(c)));
        break;
      case FieldCodec::SmartFillTmt: {
        uint32_t t = parseUnsigned(f.textOf(ExtraControl::FinalPressureTimeout));
        uint32_t mt = parseUnsigned(f.textOf(ExtraControl::FinalPressureMeasureTime));
        if (t == 0 || t > 15) t = kSmartTimeoutDefault;
        if (mt == 0 || mt > 15) mt = kSmartMeasureDefault;
        r.set(fd, t | mt << 4);
        break;
      }
      case FieldCodec::Ipv4:
        if (fd.param == 0) parseIpv4(f.textOf(c), &r.bytes[fd.offset]);
        break;
      default:
        break;
    }
  }
  return r;
}
