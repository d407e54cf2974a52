#include "tags/genres.h"

#include <algorithm>
#include <charconv>
#include <cstddef>

namespace tagrelay {

namespace {

/// The name a genre reference stands for: a number of the table (at most three digits), or the
/// two words of ID3v2 for a remix and a cover; empty for anything else.
std::string_view referenceName(std::string_view reference)
{
    if (reference == "RX")
        return "Remix";
    if (reference == "CR")
        return "Cover";
    const bool isNumber = !reference.empty() && reference.size() <= 3
                          && std::all_of(reference.begin(), reference.end(),
                                         [](char c) { return c >= '0' && c <= '9'; });
    if (!isNumber)
        return {};
    int number = 0;
    std::from_chars(reference.data(), reference.data() + reference.size(), number);
    return genreNameFor(number);
}

} // namespace

std::string_view genreNameFor(int number)
{
    if (number < 0 || number >= static_cast<int>(genreTable.size()))
        return {};
    return genreTable[static_cast<std::size_t>(number)];
}

std::string nameNumberedGenre(std::string_view text)
{
    std::string_view firstName;
    std::string_view rest = text;
    // References in parentheses come first, the refinement after them. "((" opens no
    // reference but a refinement, and "(Live)" is no reference but a name that stands.
    while (rest.size() >= 3 && rest[0] == '(' && rest[1] != '(') {
        const std::size_t close = rest.find(')');
        if (close == std::string_view::npos)
            break;
        const std::string_view name = referenceName(rest.substr(1, close - 1));
        if (name.empty())
            break;
        if (firstName.empty())
            firstName = name;
        rest.remove_prefix(close + 1);
    }
    if (firstName.empty()) {
        const std::string_view name = referenceName(text);
        return std::string(name.empty() ? text : name);
    }
    if (rest.empty())
        return std::string(firstName);
    if (rest.starts_with("(("))
        rest.remove_prefix(1);
    return std::string(rest);
}

} // namespace tagrelay
