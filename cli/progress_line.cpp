#include "cli/progress_line.h"

#include <algorithm>

#include "res/text_format.h"

std::wstring ProgressBar(std::uint32_t percent) {
    const std::size_t filled = std::min<std::uint32_t>(percent, 100) * PROGRESS_BAR_WIDTH / 100;
    return L"[" + std::wstring(filled, L'#') + std::wstring(PROGRESS_BAR_WIDTH - filled, L'-') + L"]";
}

std::wstring DurationText(std::uint64_t seconds) {
    const auto minutes = static_cast<std::uint32_t>(std::min<std::uint64_t>(seconds / 60, 9999));
    const auto rest = static_cast<std::uint32_t>(seconds % 60);
    return FormatText(L"%u:%u%u", {minutes, rest / 10, rest % 10}, 32);
}

std::wstring ProgressText(std::wstring_view format, const TransferProgress& progress) {
    std::wstring left = L"-:--";
    if (progress.blocksSent != 0 && progress.blocksSent <= progress.totalBlocks) {
        const std::uint64_t remaining = progress.totalBlocks - progress.blocksSent;
        left = DurationText(progress.elapsedMicros * remaining / progress.blocksSent / 1'000'000);
    }
    return FormatText(format,
                      {ProgressBar(progress.percent), progress.percent, progress.blocksSent,
                       progress.totalBlocks, left},
                      TEXT_CAPACITY);
}

bool PassesTenth(std::uint32_t before, std::uint32_t now) {
    return now / 10 > before / 10;
}
