// A main dialog without a window system: keeps the control texts and enabled states,
// answers message boxes from a script and logs every window operation in order.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/dialog_ops.h"
#include "app/dialog_window.h"
#include "app/dialog_phase.h"
#include "link/device_session.h"
#include "res/catalogue.h"
#include "res/resource.h"
#include "sim/sim_unit.h"
#include "update/firmware_update.h"

// What a WM_DEVICECHANGE's lParam points at, for the fake.
struct TestBroadcast {
    std::uint32_t deviceType;
    std::wstring name;
};

inline BroadcastId BroadcastOf(const TestBroadcast& broadcast) {
    return reinterpret_cast<BroadcastId>(&broadcast);
}

struct BoxCall {
    std::wstring text;
    std::wstring caption;
    std::uint32_t flags;
    // The dialog as the box found it.
    std::wstring statusText;
    bool updateEnabled;
    bool unitOpen;
};

constexpr WindowId FAKE_MAIN_WINDOW = 0x1000;
constexpr WindowId FAKE_PROGRESS_WINDOW = 0x2000;
constexpr WindowId FAKE_OTHER_WINDOW = 0x3000;
constexpr std::uintptr_t FAKE_REGISTRATION = 0x5150;

class FakeDialog : public DialogOps {
public:
    CatalogueLanguage language = CatalogueLanguage::English;
    bool terminalTexts = false;
    std::map<std::int32_t, std::wstring> texts;  // by control id
    std::map<std::int32_t, bool> enabled;
    std::wstring title;
    std::uint16_t classIcon = 0;
    std::uintptr_t registration = FAKE_REGISTRATION;  // what the registration returns
    std::vector<std::uintptr_t> unregistered;
    std::vector<std::intptr_t> endResults;
    std::vector<BoxCall> boxes;
    std::deque<std::int32_t> answers;  // box answers in order; then IDOK
    std::function<void(const BoxCall&)> whileBoxOpen;
    std::map<WindowId, WindowRect> rectangles;
    std::map<std::int32_t, std::int32_t> metrics;
    std::deque<WindowId> foreground;  // GetForegroundWindow answers in order; then 0
    std::vector<std::wstring> log;

    std::wstring Status() const { return Text(IDC_STATUS); }
    std::wstring Text(std::int32_t id) const {
        auto it = texts.find(id);
        return it == texts.end() ? std::wstring() : it->second;
    }
    bool Enabled(std::int32_t id) const {
        auto it = enabled.find(id);
        return it != enabled.end() && it->second;
    }

    std::wstring LoadResourceText(std::uint16_t id) override {
        // The string tables, as LoadStringW has them; with terminalTexts, the terminal
        // program's texts too, as the programs that load from the catalogue have them.
        const wchar_t* text = terminalTexts ? AnyCatalogueText(id, language) : CatalogueText(id, language);
        return text == nullptr ? std::wstring() : std::wstring(text);
    }
    void SetClassIcon(std::uint16_t iconId) override {
        classIcon = iconId;
        log.push_back(L"icon " + std::to_wstring(iconId));
    }
    void SetTitle(const std::wstring& text) override {
        title = text;
        log.push_back(L"title " + text);
    }
    void SetItemText(std::int32_t controlId, const std::wstring& text) override {
        texts[controlId] = text;
        log.push_back(L"item " + std::to_wstring(controlId) + L" " + text);
    }
    void SetControlText(std::int32_t controlId, const std::wstring& text) override {
        texts[controlId] = text;
        log.push_back(L"text " + std::to_wstring(controlId) + L" " + text);
    }
    std::int32_t ControlTextLength(std::int32_t controlId) override {
        log.push_back(L"length " + std::to_wstring(controlId));
        return static_cast<std::int32_t>(Text(controlId).size());
    }
    std::wstring ReadControlText(std::int32_t controlId, std::int32_t capacity) override {
        log.push_back(L"read " + std::to_wstring(controlId) + L" " + std::to_wstring(capacity));
        return capacity <= 0 ? std::wstring() : Text(controlId).substr(0, static_cast<std::size_t>(capacity - 1));
    }
    void EnableControl(std::int32_t controlId, bool on) override {
        enabled[controlId] = on;
        log.push_back(L"enable " + std::to_wstring(controlId) + (on ? L" 1" : L" 0"));
    }
    WindowId ControlWindow(std::int32_t controlId) override {
        log.push_back(L"control " + std::to_wstring(controlId));
        return ControlWindowOf(controlId);
    }
    static WindowId ControlWindowOf(std::int32_t controlId) {
        return 0x100000 + static_cast<WindowId>(controlId);
    }
    std::int32_t AskUser(const std::wstring& text, const std::wstring& caption,
                         std::uint32_t flags) override {
        log.push_back(L"box " + std::to_wstring(flags));
        boxes.push_back({text, caption, flags, Status(), Enabled(IDC_UPDATE),
                         deviceSession.handle != NO_DEVICE_HANDLE});
        if (whileBoxOpen) {
            whileBoxOpen(boxes.back());
        }
        if (answers.empty()) {
            return 1;
        }
        const std::int32_t answer = answers.front();
        answers.pop_front();
        return answer;
    }
    std::uintptr_t RegisterForDeviceChanges() override {
        log.push_back(L"register");
        return registration;
    }
    void UnregisterForDeviceChanges(std::uintptr_t notification) override {
        log.push_back(L"unregister");
        unregistered.push_back(notification);
    }
    void FinishDialog(std::intptr_t result) override {
        log.push_back(L"end " + std::to_wstring(result));
        endResults.push_back(result);
    }
    std::uint32_t BroadcastDeviceType(BroadcastId broadcast) override {
        return reinterpret_cast<const TestBroadcast*>(broadcast)->deviceType;
    }
    const wchar_t* BroadcastInterfaceName(BroadcastId broadcast) override {
        return reinterpret_cast<const TestBroadcast*>(broadcast)->name.c_str();
    }
    WindowRect WindowRectangle(WindowId window) override {
        log.push_back(L"rect " + std::to_wstring(window));
        return rectangles[window];
    }
    std::int32_t SystemMetric(std::int32_t index) override {
        log.push_back(L"metric " + std::to_wstring(index));
        return metrics[index];
    }
    WindowId ForegroundWindow() override {
        log.push_back(L"foreground");
        if (foreground.empty()) {
            return 0;
        }
        const WindowId window = foreground.front();
        foreground.pop_front();
        return window;
    }
    WindowId CreateTopLevelWindow(const std::wstring& className, const std::wstring& caption,
                                  std::uint32_t style, std::int32_t x, std::int32_t y,
                                  std::int32_t width, std::int32_t height, WindowId owner) override {
        log.push_back(L"create " + className + L" [" + caption + L"] " + std::to_wstring(style) + L" " +
                      std::to_wstring(x) + L"," + std::to_wstring(y) + L" " + std::to_wstring(width) +
                      L"x" + std::to_wstring(height) + L" owner " + std::to_wstring(owner));
        return FAKE_PROGRESS_WINDOW;
    }
    void SetProgressPosition(WindowId bar, std::uint32_t position) override {
        log.push_back(L"position " + std::to_wstring(bar) + L" " + std::to_wstring(position));
    }
    void RaiseToTop(WindowId window) override { log.push_back(L"raise " + std::to_wstring(window)); }
    void ShowWindowAs(WindowId window, std::int32_t command) override {
        log.push_back(L"show " + std::to_wstring(window) + L" " + std::to_wstring(command));
    }
    void DestroyTopLevelWindow(WindowId window) override {
        log.push_back(L"destroy " + std::to_wstring(window));
    }
    void EnableMainWindow(bool on) override {
        mainWindowEnabled = on;
        log.push_back(std::wstring(L"main window ") + (on ? L"1" : L"0"));
    }
    void DiscardInput() override {
        log.push_back(L"discard input");
        queuedInput.clear();
    }
    void BlockSessionEnd(const std::wstring& reason) override {
        sessionEndReason = reason;
        log.push_back(L"block session end " + reason);
    }
    void AllowSessionEnd() override {
        sessionEndReason.reset();
        log.push_back(L"allow session end");
    }

    // The dialog's view over these calls, as the Windows dialog draws it.
    operator DialogWindow&() { return window_.window; }

    bool mainWindowEnabled = true;
    std::optional<std::wstring> sessionEndReason;
    // Input the user made and the queue still holds: commands by id.
    std::vector<std::uint16_t> queuedInput;

private:
    // Bound to its own fake for good: a fake given a fresh one's state keeps its view.
    struct OwnWindow {
        explicit OwnWindow(DialogOps& ops) : window(ops) {}
        OwnWindow(const OwnWindow&) = delete;
        OwnWindow& operator=(const OwnWindow&) { return *this; }
        DialogWindow window;
    };
    OwnWindow window_{*this};
};

// The dialog over the simulated bus and a fake clock, installed as the program's
// host, clock and window globals for one test.
class DialogTest : public ::testing::Test {
protected:
    FakeClock clock;
    SimHidHost bus{clock};
    FakeDialog dialog;

    void SetUp() override {
        deviceSession.Reset();
        hidHost = &bus;
        systemClock = &clock;
        mainWindow = 0;
        deviceNotification = 0;
        ResetDialogPhase();
        placeholderImagesAllowed = true;  // the simulated unit takes the build's images
    }
    void TearDown() override {
        EXPECT_EQ(dialogPhase, DialogPhase::Idle) << "every handler leaves the dialog idle";
        EXPECT_EQ(WaitingDeviceChanges(), 0u) << "no device change is left waiting";
        ResetDialogPhase();
        placeholderImagesAllowed = false;
        deviceSession.Reset();
        hidHost = nullptr;
        systemClock = nullptr;
        mainWindow = 0;
        deviceNotification = 0;
    }

    std::wstring Msg(std::uint16_t id) const { return AnyCatalogueText(id, dialog.language); }
};
