// The folder an overlay file system writes into: its files live there, on whatever holds that
// folder, while the overlay shows devices of its own.
#pragma once

namespace kestro::posix {

// A descriptor on the upper folder of the overlay mount that holds `fd`, or -1 when `fd` is on
// no overlay or the overlay has no upper folder.
int OpenOverlayUpper(int fd);

}  // namespace kestro::posix
