#include "scan/movies.h"

namespace tagrelay {

// FIXME: movies cannot be loaded yet; every movie is passed over as not loadable.
void describeMovie(const std::string& /*fullPath*/, const std::string& /*name*/,
                   const std::string& /*descriptionPath*/, WindowLayer& /*window*/,
                   RunState& /*run*/)
{
}

} // namespace tagrelay
