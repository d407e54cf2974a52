#pragma once

#include "movie/worker_sandbox.h"

namespace tagrelay {

/// Confines the worker, once the media framework is initialised and its registry pruned, and
/// before it touches any movie: no new privileges; the file system for reading only where the
/// plugins, libraries, fonts and the registry are (and, for a worker that shows windows, what
/// the display and the sound card need); and no socket but local Unix ones. Each layer the
/// kernel lacks or refuses is left out; the answer says which are in force.
Confinement confineWorker(bool showsWindows);

} // namespace tagrelay
