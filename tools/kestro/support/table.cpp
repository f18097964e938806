#include "support/table.h"

#include <algorithm>
#include <cstdio>

#include "support/printable.h"

namespace kestro::cli {

void PrintTable(const std::vector<Row>& cells) {
  // Cells hold names from outside (devices, paths, failures), padded as they will be shown.
  std::vector<Row> rows = cells;
  for (Row& row : rows) std::transform(row.begin(), row.end(), row.begin(), Printable);
  std::vector<size_t> widths;
  for (const Row& row : rows) {
    widths.resize(std::max(widths.size(), row.size()));
    for (size_t i = 0; i < row.size(); ++i) widths[i] = std::max(widths[i], row[i].size());
  }
  for (const Row& row : rows) {
    std::string line;
    for (size_t i = 0; i < row.size(); ++i) {
      line += row[i];
      if (i + 1 < row.size()) line += std::string(widths[i] - row[i].size() + 2, ' ');
    }
    std::printf("%s\n", line.c_str());
  }
}

}  // namespace kestro::cli
