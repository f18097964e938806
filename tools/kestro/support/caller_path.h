// Opening a path that the caller named, more strictly than the kernel's protected-symlinks rule
// and whatever the system's setting: a symbolic link that neither the caller nor root owns is
// followed only in a folder that nobody but the caller or root may write. Each component is
// opened once and links are read and followed here, so no name is resolved twice.
#pragma once

#include <string>

namespace kestro::cli {

// A descriptor opened with `flags` on what `path` names, or -1 with errno set. Throws Failure
// naming the path when it passes through a link that the rule above refuses.
int OpenAsCaller(const std::string& path, int flags);

// The name by which every later open reaches exactly the file that `fd` holds.
std::string DescriptorPath(int fd);

}  // namespace kestro::cli
