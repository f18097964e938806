// FSCTL_GET_NTFS_VOLUME_DATA: the figures NTFS keeps about a volume, read from the volume itself.
#pragma once

#include <win32/types.h>

#include "open_object.h"
#include "ioctl/control_buffer.h"

namespace kestro::posix {

using namespace win32;

// NTFS_VOLUME_DATA_BUFFER from the boot sector, the MFT's own record and $Bitmap; nothing holds
// clusters in reserve on a volume Windows has not mounted, and the MFT zone is the eighth of the
// volume NTFS sets aside after the MFT by default. ERROR_INSUFFICIENT_BUFFER below its 96 bytes;
// ERROR_INVALID_FUNCTION, as from every other file system, unless the handle is a volume that
// holds NTFS.
BOOL AnswerNtfsVolumeData(const OpenObject& object, ControlBuffer& output);

}  // namespace kestro::posix
