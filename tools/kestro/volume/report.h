// What `info` shows: every public member of the volume object a host reads, in the order people
// read them, as one JSON document. The text form is rendered from the same document.
#pragma once

#include <Kestro32.h>

#include <cstdio>
#include <string>

#include <nlohmann/json.hpp>

namespace kestro::cli {

class Volume;

// The object's members and the partition's tail; `name`, `drive` and `source` say which volume.
nlohmann::ordered_json DescribeObject(const CKestro32& object, uint64_t tailBytes);
nlohmann::ordered_json DescribeVolume(const Volume& volume);

// "key: value" lines with underscores read as spaces; objects indent their members; byte counts
// get a readable size beside them.
void PrintReport(const nlohmann::ordered_json& report, FILE* out);

}  // namespace kestro::cli
