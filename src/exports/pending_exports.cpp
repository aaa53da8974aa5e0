// TEMPORARY stand-in until the configuration exports land; removed by whoever writes them.
#include "exports/library_state.h"
#include "vm316.h"

VM316_API uint16_t VM_CALL SetSensitivity(uint8_t channel, double* sensitivity) {
  vm316::TVMx16* instance = vm316::exports::PresentInstrument();
  if (instance == nullptr) return StatusNoHardware;
  if (channel < 1 || channel > instance->ChannelCount) return StatusInvalidChannel;
  if (sensitivity == nullptr) return StatusInvalidValue;
  return StatusOk;
}
