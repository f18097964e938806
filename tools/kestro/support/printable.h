// Names and text that came from outside (file names, file contents, messages of other programs)
// shown on a terminal: control characters would let a name move the cursor, ring the bell or
// forge a line of its own.
#pragma once

#include <string>

namespace kestro::cli {

// `text` with control characters escaped (\n, \xNN); bytes that are not UTF-8 are escaped as
// \xNN too, so that what is shown is always valid UTF-8. Backslashes stay as they are: text that
// the snapshot library already escaped is not escaped twice, and no line can be forged by them.
std::string Printable(const std::string& text);

}  // namespace kestro::cli
