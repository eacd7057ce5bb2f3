// Descriptor table and accessors of the channel and meter records.
#include "settings/channel_record.h"

const std::array<ChannelFieldDesc, kChannelFieldCount> kChannelFields = {{
    {ChannelField::state, "state", 0, 1, ChannelShow::Code},
    {ChannelField::bit_status, "bit_status", 1, 2, ChannelShow::Hex},
    {ChannelField::bit_status2, "bit_status2", 3, 1, ChannelShow::Hex},
    {ChannelField::load_vol_lo, "load_vol_lo", 4, 4, ChannelShow::Hex},
    {ChannelField::load_vol_hi, "load_vol_hi", 8, 4, ChannelShow::Hundredths},
    {ChannelField::k_vol_lo, "k_vol_lo", 12, 4, ChannelShow::Hex},
    {ChannelField::k_vol_hi, "k_vol_hi", 16, 4, ChannelShow::Hundredths},
    {ChannelField::set_vol, "set_vol", 20, 4, ChannelShow::Hundredths},
    {ChannelField::set_summ, "set_summ", 24, 4, ChannelShow::Hundredths},
    {ChannelField::last_vol, "last_vol", 28, 4, ChannelShow::Hundredths},
    {ChannelField::price, "price", 32, 4, ChannelShow::Hundredths},
    {ChannelField::base_price, "base_price", 36, 4, ChannelShow::Hundredths},
    {ChannelField::vol_end, "vol_end", 40, 4, ChannelShow::Hundredths},
    {ChannelField::vol_start, "vol_start", 44, 2, ChannelShow::Hundredths},
    {ChannelField::d_count, "d_count", 46, 4, ChannelShow::Hundredths},
    {ChannelField::f_count, "f_count", 50, 4, ChannelShow::Whole},
    {ChannelField::f_c_mil, "f_c_mil", 54, 1, ChannelShow::Cents},
    {ChannelField::l_count, "l_count", 55, 4, ChannelShow::Hundredths},
    {ChannelField::s_count, "s_count", 59, 4, ChannelShow::Hundredths},
    {ChannelField::b_count, "b_count", 63, 4, ChannelShow::Hundredths},
    {ChannelField::m_count, "m_count", 67, 4, ChannelShow::Hundredths},
}};

uint32_t ChannelRecord::get(ChannelField f) const {
  const ChannelFieldDesc& d = kChannelFields[static_cast<size_t>(f)];
  return getLE(&bytes[d.offset], d.width);
}

void ChannelRecord::set(ChannelField f, uint32_t value) {
  const ChannelFieldDesc& d = kChannelFields[static_cast<size_t>(f)];
  putLE(&bytes[d.offset], d.width, value);
}

uint64_t MeterRecord::impulseWeight() const {
  return (static_cast<uint64_t>(bytes[kMeterWeightHigh.offset]) << 32) |
         getU32(&bytes[kMeterWeightLow.offset]);
}

void MeterRecord::setImpulseWeight(uint64_t v) {
  putU32(&bytes[kMeterWeightLow.offset], static_cast<uint32_t>(v));
  bytes[kMeterWeightHigh.offset] = static_cast<uint8_t>(v >> 32);
}

double MeterRecord::coefficient() const {
  return bytes[kMeterWeightHigh.offset] +
         static_cast<double>(getU32(&bytes[kMeterWeightLow.offset])) / 4294967296.0;
}
