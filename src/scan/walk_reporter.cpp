#include "scan/walk_reporter.h"

namespace tagrelay {

WalkReporter::~WalkReporter() = default;

} // namespace tagrelay
