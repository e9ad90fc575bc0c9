// The window operations of the main dialog as user32 calls on mainWindow.
#pragma once

#include "app/dialog_ops.h"

class Win32DialogOps : public DialogOps {
public:
    std::wstring LoadResourceText(std::uint16_t id) override;
    void SetClassIcon(std::uint16_t iconId) override;
    void SetTitle(const std::wstring& text) override;
    void SetItemText(std::int32_t controlId, const std::wstring& text) override;
    void SetControlText(std::int32_t controlId, const std::wstring& text) override;
    std::int32_t ControlTextLength(std::int32_t controlId) override;
    std::wstring ReadControlText(std::int32_t controlId, std::int32_t capacity) override;
    void EnableControl(std::int32_t controlId, bool enabled) override;
    WindowId ControlWindow(std::int32_t controlId) override;
    std::int32_t AskUser(const std::wstring& text, const std::wstring& caption,
                         std::uint32_t flags) override;
    std::uintptr_t RegisterForDeviceChanges() override;
    void UnregisterForDeviceChanges(std::uintptr_t notification) override;
    void FinishDialog(std::intptr_t result) override;
    std::uint32_t BroadcastDeviceType(BroadcastId broadcast) override;
    const wchar_t* BroadcastInterfaceName(BroadcastId broadcast) override;
    WindowRect WindowRectangle(WindowId window) override;
    std::int32_t SystemMetric(std::int32_t index) override;
    WindowId ForegroundWindow() override;
    WindowId CreateTopLevelWindow(const std::wstring& className, const std::wstring& caption,
                                  std::uint32_t style, std::int32_t x, std::int32_t y,
                                  std::int32_t width, std::int32_t height, WindowId owner) override;
    void SetProgressPosition(WindowId bar, std::uint32_t position) override;
    void RaiseToTop(WindowId window) override;
    void ShowWindowAs(WindowId window, std::int32_t command) override;
    void DestroyTopLevelWindow(WindowId window) override;
    void EnableMainWindow(bool enabled) override;
    void DiscardInput() override;
    void BlockSessionEnd(const std::wstring& reason) override;
    void AllowSessionEnd() override;
};
