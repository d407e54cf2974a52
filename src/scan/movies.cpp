#include "scan/movies.h"

namespace tagrelay {

// FIXME: movies cannot be loaded yet; every movie is passed over as not loadable.
void describeMovie(FolderContext& /*folder*/, const std::string& /*name*/,
                   WindowLayer& /*window*/, RunState& /*run*/)
{
}

} // namespace tagrelay
