#include "shell/main_window.h"

namespace tagrelay {

// FIXME: the option panel is not in place yet.
int runProgram(WindowLayer& /*window*/, RunState& /*run*/)
{
    return 0;
}

} // namespace tagrelay
