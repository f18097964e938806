// Plain-text tables on standard output: columns padded to their widest cell.
#pragma once

#include <string>
#include <vector>

namespace kestro::cli {

using Row = std::vector<std::string>;

void PrintTable(const std::vector<Row>& rows);

}  // namespace kestro::cli
