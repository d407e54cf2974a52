#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace tagrelay::test {

/// A temporary folder that is removed with everything in it when the test ends.
class TempTree
{
  public:
    TempTree();
    ~TempTree();
    TempTree(const TempTree&) = delete;
    TempTree& operator=(const TempTree&) = delete;

    /// The folder's path, ending in "/".
    std::string path() const { return m_root.string() + "/"; }
    /// Writes a file (creating the folders on its way) and returns its full path.
    std::string writeFile(const std::string& relative, const std::vector<std::uint8_t>& bytes);
    std::string writeFile(const std::string& relative, std::string_view text);
    /// Creates a folder (and its parents) and returns its path ending in "/".
    std::string makeDir(const std::string& relative);

  private:
    std::filesystem::path m_root;
};

/// The whole content of a file; empty when it cannot be read.
std::vector<std::uint8_t> readFileBytes(const std::string& path);
std::string readFileText(const std::string& path);

/// Switches LC_ALL to the first locale of the list that the system has, for the scope.
class ScopedLocale
{
  public:
    explicit ScopedLocale(const std::vector<std::string>& candidates);
    ~ScopedLocale();
    bool isSet() const { return m_set; }

  private:
    std::string m_previous;
    bool m_set = false;
};

/// Runs work in a child process (with its own user, limits or mounts) and returns its exit
/// code, or 128 + the signal that ended it.
int inChild(const std::function<int()>& work);

} // namespace tagrelay::test
