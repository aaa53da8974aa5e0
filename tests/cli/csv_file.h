// Reads back the CSV files the host writes, and recovers a periodic signal's frequency from
// them independently of the host's own measurements.
#pragma once

#include <algorithm>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "cli/cli_runner.h"

namespace vm316::cli_testing {

struct CsvFile {
  std::vector<std::string> comments;  // without the leading "# "
  std::vector<std::string> header;
  std::vector<std::vector<double>> rows;
  bool rows_well_formed = true;  // every row has a number in every column

  // The value of a "# key: value" comment line.
  std::optional<std::string> Setting(const std::string& key) const {
    for (const std::string& comment : comments) {
      if (comment.rfind(key + ": ", 0) == 0) return comment.substr(key.size() + 2);
    }
    return std::nullopt;
  }

  std::vector<double> Column(std::size_t index) const {
    std::vector<double> values;
    for (const auto& row : rows) values.push_back(index < row.size() ? row[index] : 0.0);
    return values;
  }
};

inline std::vector<std::string> SplitCommas(const std::string& line) {
  std::vector<std::string> fields;
  std::size_t start = 0;
  for (;;) {
    const std::size_t comma = line.find(',', start);
    fields.push_back(line.substr(start, comma == std::string::npos ? comma : comma - start));
    if (comma == std::string::npos) return fields;
    start = comma + 1;
  }
}

inline CsvFile ParseCsv(const std::string& text) {
  CsvFile csv;
  for (const std::string& line : Lines(text)) {
    if (line.rfind("# ", 0) == 0) {
      csv.comments.push_back(line.substr(2));
    } else if (csv.header.empty()) {
      csv.header = SplitCommas(line);
    } else {
      std::vector<double> row;
      for (const std::string& field : SplitCommas(line)) {
        char* end = nullptr;
        row.push_back(std::strtod(field.c_str(), &end));
        if (field.empty() || *end != '\0') csv.rows_well_formed = false;
      }
      if (row.size() != csv.header.size()) csv.rows_well_formed = false;
      csv.rows.push_back(row);
    }
  }
  return csv;
}

// From the rising crossings of the mid level (with a tenth of the swing as hysteresis),
// interpolated between samples: whole periods between the first and the last.
inline std::optional<double> RecoveredFrequency(const std::vector<double>& volts,
                                                double sample_rate) {
  if (volts.size() < 3) return std::nullopt;
  const auto [low, high] = std::minmax_element(volts.begin(), volts.end());
  const double mid = (*low + *high) / 2.0;
  const double band = (*high - *low) / 10.0;
  std::vector<double> crossings;
  bool below = volts[0] < mid;
  for (std::size_t i = 1; i < volts.size(); ++i) {
    if (volts[i] < mid - band) below = true;
    if (below && volts[i] > mid + band) {
      std::size_t k = i;
      while (k > 1 && volts[k - 1] >= mid) --k;
      const double a = volts[k - 1];
      const double b = volts[k];
      crossings.push_back(static_cast<double>(k - 1) + (a == b ? 0.0 : (mid - a) / (b - a)));
      below = false;
    }
  }
  if (crossings.size() < 2) return std::nullopt;
  return sample_rate * static_cast<double>(crossings.size() - 1) /
         (crossings.back() - crossings.front());
}

}  // namespace vm316::cli_testing
