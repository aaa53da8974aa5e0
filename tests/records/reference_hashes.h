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
    {"calibrate, seed -3, a sine on channel 1", 0x86050F739F4EA4E3ull},
    {"calibrate, noisy-ch1", 0x1B427955297A665Aull},
    {"calibrate, drifting-reference", 0xE92DA8EC45A8B59Cull},
    {"calibrate, stuck-relay=9", 0x8A4237428BAC9C61ull},
    {"calibrate, dead-ch2", 0xC93D35D5F4D2F1DEull},
    {"calibrate, dead-converter2", 0x582E1E4A3037D6E8ull},
    {"calibrate, slow-bus=20", 0x85F3185B2DEADAD0ull},
    {"calibrate, absent", 0xD42FDFA847E716B4ull},
    {"20 MHz, ground", 0x36D0993299BF2BA0ull},
    {"20 MHz, dc", 0x1B09DAF64D9259FBull},
    {"20 MHz, sine", 0x3B727C49FFDFF78Dull},
    {"20 MHz, square", 0xE3051C642B3B3607ull},
    {"20 MHz, triangle", 0xFCEA0EE6C84D0B5Eull},
    {"20 MHz, sawtooth", 0xA7AF2CCCCD8302A9ull},
    {"20 MHz, noise", 0xF3902E18169CE6CEull},
    {"20 MHz, generator", 0x67FFF50037079F1Dull},
    {"rates, 1 kHz sine", 0x95E878E231E2BECDull},
    {"full length at 20 MHz", 0x8B7167A48965A880ull},
    {"channel 2 falling", 0x5B30ACF5B0CFCCD2ull},
    {"external rising and falling", 0x4BC0BEC63EBB469Cull},
    {"and, or, none", 0x886EAF8C439CC7AFull},
    {"forced after the time-out", 0xD8BD3184DF562039ull},
    {"AC coupling drains a DC input", 0x829B46B7A4A99AB9ull},
    {"ranges and DC level", 0x7659A62AA474444Dull},
    {"automatic ranging", 0x3FEFDE9F91ED501Dull},
    {"channel 1 only", 0x3BA4C74ED5DF7A05ull},
    {"block style, forced", 0xCA02AAFB6454B069ull},
    {"timer style", 0xD0D02206E73EFB99ull},
    {"stuck-busy", 0x2B59E75322AD9E85ull},
    {"dead-converter2 and noisy-ch2", 0x04370BC59A42F068ull},
    {"noisy-ch2", 0xCD6C41027B9FC695ull},
    {"dead-ch1", 0xEEE749DE44E3C914ull},
    {"stuck AC relay", 0xB851C63EBFAAFEF0ull},
    {"drifting-reference", 0x399C23055991891Full},
    {"slow-bus=100", 0x0FB2FF3DA726E47Dull},
    {"unplug-after=30000", 0x07A09BE19D11B2A8ull},
    {"traffic 0", 0xBB7D65A76A635E53ull},
    {"traffic 1", 0x70EE28114B0B17A9ull},
    {"traffic 2", 0xD04F7A9BF98A627Dull},
    {"traffic 3", 0xFB47983B481307A9ull},
    {"traffic 4", 0x09AE7CF1E895B34Aull},
    {"traffic 5", 0xD845ADBAD96A4F2Eull},
    {"traffic 6", 0xE7D4E2450EA82214ull},
    {"traffic 7", 0x60B522C3BE6E6CD4ull},
    {"traffic 8", 0x5648FA752E98207Bull},
    {"traffic 9", 0xD48CD578FFD429C6ull},
    {"traffic 10", 0x347B621AEF0B0777ull},
    {"traffic 11", 0x4F3DE80439C36E74ull},
    {"traffic 12", 0x520FBA7C9D665BF5ull},
    {"traffic 13", 0x48B520B14598BB2Cull},
    {"traffic 14", 0x87EA179908F0A7C0ull},
    {"traffic 15", 0x65912DE45BAE9C8Dull},
};

}  // namespace vm316::records
