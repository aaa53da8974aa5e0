#include <algorithm>
#include <cstring>
#include <optional>
#include <string>

#include "host_c.h"
#include "shared/record.h"
#include "shared/settings.h"
#include "shared/trigger_rearm.h"
#include "text_out.h"

using vm316::host_c::CopyText;

extern "C" int vm316_read_setting(const char* key, const char* text, double* number, int* flags,
                                  char* word, std::size_t word_size, char* why,
                                  std::size_t why_size) {
  vm316::host::SettingRefusal refusal;
  const std::optional<vm316::host::SettingValue> value =
      key == nullptr || text == nullptr ? std::nullopt
                                        : vm316::host::ReadSetting(key, text, &refusal);
  if (!value) {
    CopyText(key == nullptr || text == nullptr ? "no setting named" : refusal.why, why, why_size);
    return refusal.outside_limits ? VM316_SETTING_OUTSIDE : VM316_SETTING_MALFORMED;
  }
  if (number != nullptr) *number = value->number;
  if (flags != nullptr) {
    *flags = (value->automatic ? VM316_SETTING_AUTO : 0) | (value->none ? VM316_SETTING_NONE : 0);
  }
  CopyText(value->word, word, word_size);
  CopyText("", why, why_size);
  return VM316_SETTING_OK;
}

extern "C" int vm316_over_range(const std::uint16_t* samples, std::size_t count) {
  if (samples == nullptr) return 0;
  vm316::host::ChannelRecord channel;
  channel.raw.assign(samples, samples + count);
  return channel.OverRange() ? 1 : 0;
}

extern "C" int vm316_describe_rearm(int channel, int falling, double level, double hysteresis,
                                    const double* volts, std::size_t count, const char* setting,
                                    char* text, std::size_t size) {
  CopyText("", text, size);
  if (channel < 1 || channel > vm316::host::kChannelCount || volts == nullptr) return 0;
  vm316::host::Record record;
  record.trigger_state = vm316::host::TriggerState::kForced;
  record.trigger_channel = channel;
  record.trigger_level = level;
  record.trigger_hysteresis = hysteresis;
  record.trigger_falling = falling != 0;
  vm316::host::ChannelRecord& trace = record.channels[channel - 1];
  trace.recorded = true;
  trace.volts.assign(volts, volts + count);
  const std::optional<vm316::host::RearmShortfall> shortfall =
      vm316::host::FindRearmShortfall(record);
  if (!shortfall) return 0;
  CopyText(vm316::host::DescribeRearmShortfall(*shortfall, setting != nullptr ? setting : ""), text,
           size);
  return 1;
}
