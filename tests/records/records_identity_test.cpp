// The simulated board's records stay what they are: for each host case and traffic case the
// hash of everything read must equal the one recorded in reference_hashes.h. A change of the
// board model that changes records on purpose records them again, deliberately:
//
//   scripts/record-sim-references.sh
//
// (which runs this test with VM316_RECORD_REFERENCES naming the file to write).
#include <gtest/gtest.h>

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <string>

#include "record_hash.h"
#include "reference_hashes.h"

namespace vm316::records {
namespace {

// Writes the table of reference_hashes.h.
void WriteReferences(const char* path, const std::vector<CaseHash>& hashes) {
  std::ofstream out(path);
  out << "// Made by scripts/record-sim-references.sh: the hash of each identity case's reads.\n"
         "#pragma once\n\n#include <cstdint>\n\nnamespace vm316::records {\n\n"
         "struct ReferenceHash {\n  const char* name;\n  std::uint64_t hash;\n};\n\n"
         "inline constexpr ReferenceHash kReferenceHashes[] = {\n";
  for (const CaseHash& c : hashes) {
    char value[32];
    std::snprintf(value, sizeof value, "0x%016" PRIX64 "ull", c.hash);
    out << "    {\"" << c.name << "\", " << value << "},\n";
  }
  out << "};\n\n}  // namespace vm316::records\n";
}

TEST(Records, StayByteForByteWhatTheyWere) {
  std::vector<CaseHash> hashes = HostCaseHashes();
  for (CaseHash& c : TrafficCaseHashes()) hashes.push_back(std::move(c));
  if (const char* path = std::getenv("VM316_RECORD_REFERENCES")) {
    WriteReferences(path, hashes);
    GTEST_SKIP() << "references written to " << path;
  }
  std::map<std::string, std::uint64_t> references;
  for (const ReferenceHash& r : kReferenceHashes) references[r.name] = r.hash;
  EXPECT_EQ(references.size(), hashes.size()) << "cases and references differ in number";
  for (const CaseHash& c : hashes) {
    EXPECT_NE(c.hash, 0u) << c.name << ": the case's process failed";
    const auto it = references.find(c.name);
    ASSERT_NE(it, references.end()) << c.name << ": no reference";
    EXPECT_EQ(c.hash, it->second) << c.name;
  }
}

}  // namespace
}  // namespace vm316::records
