#pragma once

#include "support/recording_window_layer.h"
#include "support/support.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace tagrelay::test {

/// The thirteen integers of a settings file in their order: eight MP3 flags, the picture
/// size, movie and picture icon flags, iconSize, runCounter.
using SettingsIntegers = std::array<std::int32_t, 13>;

/// The bytes of a settings file: each integer as 4 little-endian bytes, then the directory
/// as it is, without terminator.
inline std::vector<std::uint8_t> settingsBytes(const SettingsIntegers& integers,
                                               std::string_view directory)
{
    std::vector<std::uint8_t> bytes;
    for (const std::int32_t value : integers) {
        const auto bits = static_cast<std::uint32_t>(value);
        for (int shift = 0; shift < 32; shift += 8)
            bytes.push_back(static_cast<std::uint8_t>((bits >> shift) & 0xFF));
    }
    bytes.insert(bytes.end(), directory.begin(), directory.end());
    return bytes;
}

/// No option ticked, icon size 50, counter at 1.
inline constexpr SettingsIntegers plainIntegers = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 50, 1};

inline SettingsIntegers withCounter(std::int32_t runCounter)
{
    SettingsIntegers integers = plainIntegers;
    integers[12] = runCounter;
    return integers;
}

/// A headless layer that lets a test look at the window at two moments: before each wait for
/// an event, and when the folder dialog is shown.
class ProbeLayer : public RecordingWindowLayer
{
  public:
    std::function<void(int waitNumber)> onWait;
    std::function<void()> onDialog;

    Event waitEvent() override
    {
        if (onWait)
            onWait(waitCount() + 1);
        return RecordingWindowLayer::waitEvent();
    }

    std::string chooseFolder(const std::string& prompt, const std::string& initial) override
    {
        if (onDialog)
            onDialog();
        return RecordingWindowLayer::chooseFolder(prompt, initial);
    }
};

/// Runs each test in a fresh temporary folder as the current directory, where the program
/// keeps its settings file (and where a walk of "" would write).
class InTempFolderTest : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        m_previous = std::filesystem::current_path();
        std::filesystem::current_path(tree.path());
    }
    void TearDown() override { std::filesystem::current_path(m_previous); }

    std::string settingsPath() const { return tree.path() + "brelvoka.ini"; }

    TempTree tree;

  private:
    std::filesystem::path m_previous;
};

} // namespace tagrelay::test
