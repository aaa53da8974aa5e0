// The library exports exactly the names of the interface list plus the four host extras, and
// the list itself holds the 115 names with their fixed ordinals.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <fstream>
#include <memory>
#include <set>
#include <sstream>
#include <string>

namespace {

struct ExportList {
  std::set<std::string> names;
  std::set<int> ordinals;
  int lines = 0;
};

ExportList ReadExportList() {
  ExportList list;
  std::ifstream file(std::string(VM316_SOURCE_DIR) + "/src/exports/export_list.txt");
  std::string line;
  while (std::getline(file, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream fields(line);
    std::string name;
    int ordinal = 0;
    fields >> name >> ordinal;
    list.names.insert(name);
    list.ordinals.insert(ordinal);
    ++list.lines;
  }
  return list;
}

// The defined text symbols of the dynamic symbol table, as nm lists them.
std::set<std::string> DefinedTextSymbols(const std::string& library) {
  std::set<std::string> symbols;
  const std::string command = "nm -D --defined-only '" + library + "'";
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
  if (!pipe) return symbols;
  std::array<char, 512> buffer{};
  while (fgets(buffer.data(), buffer.size(), pipe.get()) != nullptr) {
    std::istringstream fields(buffer.data());
    std::string address, type, name;
    if (fields >> address >> type >> name && type == "T") symbols.insert(name);
  }
  return symbols;
}

TEST(SymbolTable, TheListHolds115NamesWithOrdinals1To117But68And69) {
  const ExportList list = ReadExportList();
  EXPECT_EQ(list.lines, 115);
  EXPECT_EQ(list.names.size(), 115u);
  EXPECT_EQ(list.ordinals.size(), 115u);
  for (int ordinal = 1; ordinal <= 117; ++ordinal) {
    EXPECT_EQ(list.ordinals.count(ordinal), ordinal == 68 || ordinal == 69 ? 0u : 1u) << ordinal;
  }
}

TEST(SymbolTable, TheLibraryExportsExactlyTheListAndTheHostExtras) {
  std::set<std::string> expected = ReadExportList().names;
  for (const char* extra :
       {"vm316_pump_messages", "vm316_set_message_handler", "vm316_post_message",
        "vm316_register_window_message", "vm316_record_bound_ms"}) {
    expected.insert(extra);
  }
  const std::set<std::string> exported = DefinedTextSymbols(VM316_LIBRARY_PATH);
  ASSERT_FALSE(exported.empty()) << "nm gave nothing for " << VM316_LIBRARY_PATH;
  for (const std::string& name : expected) {
    EXPECT_EQ(exported.count(name), 1u) << "not exported: " << name;
  }
  for (const std::string& name : exported) {
    EXPECT_EQ(expected.count(name), 1u) << "exported but not in the list: " << name;
  }
}

}  // namespace
