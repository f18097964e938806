// The backup steps over the system's shadow-copy service (IVssBackupComponents).
#pragma once

#include <memory>

#include "backup_steps.h"

namespace shadrel {

std::unique_ptr<BackupSteps> MakeVssBackupSteps();

}  // namespace shadrel
