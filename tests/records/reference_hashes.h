// Made by scripts/record-sim-references.sh: the hash of each identity case's reads.
#pragma once

#include <cstdint>

namespace vm316::records {

struct ReferenceHash {
  const char* name;
  std::uint64_t hash;
};

inline constexpr ReferenceHash kReferenceHashes[] = {
    {"calibrate, seed 1", 0xFE470B5EDB18883Eull},
    {"calibrate, seed 7", 0xE7817AF0FA91C9F2ull},
    {"calibrate, seed -3, a sine on channel 1", 0x31E4B6B35AE7EC1Aull},
    {"calibrate, noisy-ch1", 0x3731257C5F710D64ull},
    {"calibrate, drifting-reference", 0x9D98888E3D06F822ull},
    {"calibrate, stuck-relay=9", 0x82BC0C641C91564Cull},
    {"calibrate, dead-ch2", 0xCAD14EE60D06ED7Bull},
    {"calibrate, dead-converter2", 0x72D0F19D8494CA7Aull},
    {"calibrate, slow-bus=20", 0x69817A42A0118D2Dull},
    {"calibrate, absent", 0xD42FDFA847E716B4ull},
    {"20 MHz, ground", 0x3095CA70F8D4F69Dull},
    {"20 MHz, dc", 0x037D7D6B81E320AAull},
    {"20 MHz, sine", 0x9CCD1335C9B68336ull},
    {"20 MHz, square", 0x7A5B11D94FE1CD9Aull},
    {"20 MHz, triangle", 0x281E1F60813613DBull},
    {"20 MHz, sawtooth", 0x2671AA10B3755FB4ull},
    {"20 MHz, noise", 0x099EA6F535482F54ull},
    {"20 MHz, generator", 0xA50AFEF764D3E43Eull},
    {"rates, 1 kHz sine", 0xF0105949B8F8CFD5ull},
    {"full length at 20 MHz", 0x9FBE67D4334C2BA2ull},
    {"channel 2 falling", 0x351CB617CCC35A0Bull},
    {"external rising and falling", 0x77897AF81B4F6ACBull},
    {"and, or, none", 0x52F21EEE2F9FDFEAull},
    {"forced after the time-out", 0x11234B1AA4E8CD1Eull},
    {"AC coupling drains a DC input", 0xA609649E7D43248Aull},
    {"ranges and DC level", 0xA82A25871C3CAD5Dull},
    {"automatic ranging", 0xEDDA293EBB40866Eull},
    {"channel 1 only", 0x9A4DBD1942F8B7D8ull},
    {"block style, forced", 0x407CA28D3147A33Bull},
    {"timer style", 0x17787DACE0D5EB55ull},
    {"stuck-busy", 0x078C502F3C7664C3ull},
    {"dead-converter2 and noisy-ch2", 0x3B22F44F1F3F5806ull},
    {"noisy-ch2", 0xEA3D313C653250C6ull},
    {"dead-ch1", 0x7098479E63F958E0ull},
    {"stuck AC relay", 0xF76A65D0A3872B0Bull},
    {"drifting-reference", 0x5F6ACAA48B5A0185ull},
    {"slow-bus=100", 0x66D10B4B0F73F7ECull},
    {"unplug-after=30000", 0x39A0184B32B0E5CBull},
    {"traffic 0", 0xCA0D56DC4FBE1BE4ull},
    {"traffic 1", 0x0624AC00250A2CA5ull},
    {"traffic 2", 0x86D2A460CE632AC0ull},
    {"traffic 3", 0xF57D4B43116CAD7Full},
    {"traffic 4", 0x2758523F5C6AF2FEull},
    {"traffic 5", 0xFB196D6CD2C0F0D4ull},
    {"traffic 6", 0x4AB2F2640BBE7258ull},
    {"traffic 7", 0x7D422C64772C3DFBull},
    {"traffic 8", 0x57FE70B7C0C19AF4ull},
    {"traffic 9", 0xBA2AC3E10D413F29ull},
    {"traffic 10", 0x9D52AAFD5F5F9A46ull},
    {"traffic 11", 0x07E324B9F67ABCD7ull},
    {"traffic 12", 0x45628DC3CC3F7697ull},
    {"traffic 13", 0x8FF205BDEFBFC805ull},
    {"traffic 14", 0xE33BBAD6A337146Eull},
    {"traffic 15", 0x7D392918E30554D0ull},
};

}  // namespace vm316::records
