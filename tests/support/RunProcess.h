#pragma once
// The test-support kit in one include: process runner, scratch folders, files, environment
// guards and launcher files.

#include "support/Archive.h"
#include "support/Files.h"
#include "support/LauncherFile.h"
#include "support/Process.h"
#include "support/ScopedEnv.h"
#include "support/TempDir.h"
