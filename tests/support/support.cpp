#include "support/support.h"

#ifndef _WIN32
#include <sys/wait.h>
#endif
#include <unistd.h>

#include <clocale>
#include <cstdlib>
#include <fstream>
#include <iterator>

namespace tagrelay::test {

TempTree::TempTree()
{
    std::string pattern =
        (std::filesystem::temp_directory_path() / "tagrelay-test-XXXXXX").string();
    const char* made = ::mkdtemp(pattern.data());
    m_root = made != nullptr ? std::filesystem::path(made) : std::filesystem::path(pattern);
}

TempTree::~TempTree()
{
    std::error_code ignored;
    // Folders a test made unreadable would stop the removal.
    for (auto it = std::filesystem::recursive_directory_iterator(
             m_root, std::filesystem::directory_options::skip_permission_denied, ignored);
         it != std::filesystem::recursive_directory_iterator(); it.increment(ignored)) {
        if (it->is_directory(ignored) && !it->is_symlink(ignored))
            std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                         std::filesystem::perm_options::add, ignored);
    }
    std::filesystem::remove_all(m_root, ignored);
}

std::string TempTree::writeFile(const std::string& relative, const std::vector<std::uint8_t>& bytes)
{
    const auto full = m_root / relative;
    std::filesystem::create_directories(full.parent_path());
    std::ofstream out(full, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    return full.string();
}

std::string TempTree::writeFile(const std::string& relative, std::string_view text)
{
    return writeFile(relative, std::vector<std::uint8_t>(text.begin(), text.end()));
}

std::string TempTree::makeDir(const std::string& relative)
{
    const auto full = m_root / relative;
    std::filesystem::create_directories(full);
    return full.string() + "/";
}

std::vector<std::uint8_t> readFileBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string readFileText(const std::string& path)
{
    const auto bytes = readFileBytes(path);
    return {bytes.begin(), bytes.end()};
}

ScopedLocale::ScopedLocale(const std::vector<std::string>& candidates)
{
    const char* current = std::setlocale(LC_ALL, nullptr);
    m_previous = current != nullptr ? current : "C";
    for (const auto& name : candidates) {
        if (std::setlocale(LC_ALL, name.c_str()) != nullptr) {
            m_set = true;
            return;
        }
    }
}

ScopedLocale::~ScopedLocale()
{
    std::setlocale(LC_ALL, m_previous.c_str());
}

#ifndef _WIN32
int inChild(const std::function<int()>& work)
{
    const pid_t child = ::fork();
    if (child == 0)
        ::_exit(work());
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}
#endif

} // namespace tagrelay::test
