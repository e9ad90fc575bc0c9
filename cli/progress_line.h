// The terminal's progress of the block transfer: one line that redraws itself on a
// terminal, one line per tenth elsewhere.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

constexpr std::size_t PROGRESS_BAR_WIDTH = 30;

struct TransferProgress {
    std::uint32_t percent;
    std::uint32_t blocksSent;
    std::uint32_t totalBlocks;
    std::uint64_t elapsedMicros;  // since the transfer began
};

// The progress text after format (bar, percent, blocks sent, blocks, time left). The
// time left is estimated from the pace so far; "-:--" before the first block.
std::wstring ProgressText(std::wstring_view format, const TransferProgress& progress);

// "[#####-----...]" for percent, PROGRESS_BAR_WIDTH marks inside the brackets.
std::wstring ProgressBar(std::uint32_t percent);

// "m:ss".
std::wstring DurationText(std::uint64_t seconds);

// Whether going from one percentage to the next passes a tenth (10, 20, ... 100).
bool PassesTenth(std::uint32_t before, std::uint32_t now);
