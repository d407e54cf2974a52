#pragma once
// The Windows build finds this system header's calls in platform/windows/posix.h.
#include "platform/windows/posix.h"
