#include "platform/console_text.h"

namespace tagrelay {

void writeConsoleText(std::FILE* stream, std::string_view text)
{
    std::fwrite(text.data(), 1, text.size(), stream);
    std::fflush(stream);
}

} // namespace tagrelay
