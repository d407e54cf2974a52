#include "tags/genres.h"

#include <cstddef>

namespace tagrelay {

std::string_view genreNameFor(int number)
{
    if (number < 0 || number >= static_cast<int>(genreTable.size()))
        return {};
    return genreTable[static_cast<std::size_t>(number)];
}

} // namespace tagrelay
