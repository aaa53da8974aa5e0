// Made by scripts/record-sim-references.sh: the hash of each identity case's reads.
#pragma once

#include <cstdint>

namespace vm316::records {

struct ReferenceHash {
  const char* name;
  std::uint64_t hash;
};

inline constexpr ReferenceHash kReferenceHashes[] = {
    {"calibrate, seed 1", 0xE2983A701A63095Aull},
    {"calibrate, seed 7", 0x3CFEFA7647C9AE4Bull},
    {"calibrate, seed -3, a sine on channel 1", 0x3AECE43E1409C84Dull},
    {"calibrate, noisy-ch1", 0x1B427955297A665Aull},
    {"calibrate, drifting-reference", 0xE92DA8EC45A8B59Cull},
    {"calibrate, stuck-relay=9", 0x8A4237428BAC9C61ull},
    {"calibrate, dead-ch2", 0xC93D35D5F4D2F1DEull},
    {"calibrate, dead-converter2", 0x582E1E4A3037D6E8ull},
    {"calibrate, slow-bus=20", 0x85F3185B2DEADAD0ull},
    {"calibrate, absent", 0xD42FDFA847E716B4ull},
    {"20 MHz, ground", 0x36D0993299BF2BA0ull},
    {"20 MHz, dc", 0x1B09DAF64D9259FBull},
    {"20 MHz, sine", 0xE3F7C8D285D99B9Dull},
    {"20 MHz, square", 0x8A230C5C2F898440ull},
    {"20 MHz, triangle", 0x45239DAB085954C8ull},
    {"20 MHz, sawtooth", 0x35975B657AF0A306ull},
    {"20 MHz, noise", 0xF3902E18169CE6CEull},
    {"20 MHz, generator", 0x54CCBE156E27BC43ull},
    {"rates, 1 kHz sine", 0xC0FAC2309000B52Full},
    {"full length at 20 MHz", 0xA36B5A0447DD5C9Full},
    {"channel 2 falling", 0x60940929532E51C5ull},
    {"external rising and falling", 0x5A5CA893ABD6465Dull},
    {"and, or, none", 0x312BCA76CBD5B4AEull},
    {"forced after the time-out", 0xD8BD3184DF562039ull},
    {"AC coupling drains a DC input", 0x829B46B7A4A99AB9ull},
    {"ranges and DC level", 0x42375284647CA52Eull},
    {"automatic ranging", 0xE98067C2C76600D3ull},
    {"channel 1 only", 0xA82F53EBF7FD858Aull},
    {"block style, forced", 0x0F9EAB55BD6FF246ull},
    {"timer style", 0x9C49F2707E276F54ull},
    {"stuck-busy", 0xE5181F031AEC099Eull},
    {"dead-converter2 and noisy-ch2", 0xD28DD3AD4BA89B6Dull},
    {"noisy-ch2", 0x3AFCA23D18386EAAull},
    {"dead-ch1", 0xEEE749DE44E3C914ull},
    {"stuck AC relay", 0xB851C63EBFAAFEF0ull},
    {"drifting-reference", 0x399C23055991891Full},
    {"slow-bus=100", 0x922211F1215C246Full},
    {"unplug-after=30000", 0xDB901FD6E5930491ull},
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
