// The simulated build's control commands: what they do to the bus and which device
// changes they hand on, now or later.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "link/link.h"
#include "sim/sim_bus_control.h"
#include "app/status_flow.h"
#include "tests/app/fake_dialog.h"

namespace {

struct Delivery {
    std::uintptr_t event;
    std::wstring path;
    bool operator==(const Delivery&) const = default;
};

void PrintTo(const Delivery& d, std::ostream* out) {
    *out << std::hex << d.event << " " << testing::PrintToString(d.path);
}

const std::wstring FIRST = SimUnitPath(PRODUCT_TUNE_BOX, 0);
const std::wstring SECOND = SimUnitPath(PRODUCT_TUNE_BOX, 1);
const std::wstring PUCK = SimUnitPath(PRODUCT_TUNEPUCK, 0);

class SimBusControlTest : public ::testing::Test {
protected:
    FakeClock clock;
    SimHidHost bus{clock};
    std::vector<Delivery> now;
    std::vector<Delivery> later;
    SimBusControl control{bus, clock, [this](std::uintptr_t e, const std::wstring& p) { now.push_back({e, p}); },
                          [this](std::uintptr_t e, const std::wstring& p) { later.push_back({e, p}); }};

    void SetUp() override {
        deviceSession.Reset();
        hidHost = &bus;
        systemClock = &clock;
    }
    void TearDown() override {
        deviceSession.Reset();
        hidHost = nullptr;
        systemClock = nullptr;
    }
    // Sends count block requests to the open unit; for each, whether its report was
    // written (the unit, neither locked nor erased, refuses them, which does not matter).
    std::vector<bool> WriteBlocks(int count) {
        std::vector<bool> written;
        const std::uint8_t block[48] = {};
        for (int i = 0; i < count; ++i) {
            written.push_back(WriteBlock(deviceSession, block, 12) != LINK_WRITE_FAILED);
        }
        return written;
    }
};

TEST(SimScenarioFromEnvironment, DefaultsToReady) {
    EXPECT_EQ(SimScenarioFromEnvironment(nullptr), "ready");
    EXPECT_EQ(SimScenarioFromEnvironment(L""), "ready");
    EXPECT_EQ(SimScenarioFromEnvironment(L"foreign-esc"), "foreign-esc");
    EXPECT_EQ(SimScenarioFromEnvironment(L"r\u00e9ady"), "") << "names no scenario";
}

TEST_F(SimBusControlTest, PlugScenarioAnnouncesEachUnitAtAPathOfItsOwn) {
    EXPECT_TRUE(control.Run(SIM_PLUG_SCENARIO, L"ready"));
    EXPECT_TRUE(control.Run(SIM_PLUG_SCENARIO, L"ready"));
    EXPECT_TRUE(control.Run(SIM_PLUG_SCENARIO, L"puck"));
    EXPECT_EQ(now, (std::vector<Delivery>{{0x8000, FIRST}, {0x8000, SECOND}, {0x8000, PUCK}}));
    EXPECT_EQ(bus.Paths(), (std::vector<std::wstring>{FIRST, SECOND, PUCK}));
    EXPECT_TRUE(later.empty());
}

TEST_F(SimBusControlTest, PlugScenarioRefusesUnknownNamesAndPlugsNothingForNone) {
    EXPECT_FALSE(control.Run(SIM_PLUG_SCENARIO, L"no-such-scenario"));
    EXPECT_FALSE(control.Run(SIM_PLUG_SCENARIO, L"r\u00e9ady"));
    EXPECT_TRUE(control.Run(SIM_PLUG_SCENARIO, L"none"));
    EXPECT_TRUE(now.empty());
    EXPECT_TRUE(bus.Paths().empty());
}

TEST_F(SimBusControlTest, UnplugTakesTheDeviceOffAndAnnouncesTheRemovalAtOnce) {
    ASSERT_TRUE(control.Run(SIM_PLUG_SCENARIO, L"ready"));
    ASSERT_TRUE(control.Run(SIM_PLUG_SCENARIO, L"ready"));
    now.clear();

    EXPECT_TRUE(control.Run(SIM_UNPLUG, SECOND));
    EXPECT_TRUE(control.Run(SIM_UNPLUG, L""));  // the first unit left
    EXPECT_EQ(now, (std::vector<Delivery>{{0x8004, SECOND}, {0x8004, FIRST}}));
    EXPECT_TRUE(later.empty()) << "announced once, by the command";
    EXPECT_TRUE(bus.Paths().empty());
    EXPECT_FALSE(control.Run(SIM_UNPLUG, L"")) << "no unit left";
}

TEST_F(SimBusControlTest, UnplugMatchesPathsAsWindowsDoAndAnnouncesTheNameAsGiven) {
    ASSERT_TRUE(control.Run(SIM_PLUG_SCENARIO, L"ready"));
    now.clear();
    std::wstring upper = FIRST;
    for (wchar_t& c : upper) {
        c = (c >= L'a' && c <= L'z') ? static_cast<wchar_t>(c - 32) : c;
    }
    EXPECT_TRUE(control.Run(SIM_UNPLUG, L"\\\\?\\hid#not_on_the_bus"));
    EXPECT_EQ(bus.Paths(), std::vector<std::wstring>{FIRST});
    EXPECT_TRUE(control.Run(SIM_UNPLUG, upper));
    EXPECT_TRUE(bus.Paths().empty());
    EXPECT_EQ(now, (std::vector<Delivery>{{0x8004, L"\\\\?\\hid#not_on_the_bus"}, {0x8004, upper}}));
}

TEST_F(SimBusControlTest, PlugOtherAddsADeviceThatIsNoUnit) {
    EXPECT_TRUE(control.Run(SIM_PLUG_OTHER, L""));
    EXPECT_TRUE(control.Run(SIM_PLUG_OTHER, L""));
    EXPECT_TRUE(control.Run(SIM_PLUG_OTHER, L"\\\\?\\hid#mouse"));
    EXPECT_FALSE(control.Run(SIM_PLUG_OTHER, L"\\\\?\\hid#mouse")) << "already on the bus";
    ASSERT_EQ(now.size(), 3u);
    EXPECT_NE(now[0].path, now[1].path);
    EXPECT_EQ(now[2], (Delivery{0x8000, L"\\\\?\\hid#mouse"}));
    EXPECT_EQ(bus.Paths().size(), 3u);
    EXPECT_EQ(bus.FirstUnit(), nullptr);
}

TEST_F(SimBusControlTest, UnknownCommandsAreRefused) {
    for (const std::uint32_t command : {0u, 7u, 99u, 0xFFFFFFFFu}) {
        EXPECT_FALSE(control.Run(command, L"ready")) << command;
    }
    EXPECT_TRUE(now.empty());
    EXPECT_TRUE(bus.Paths().empty());
}

TEST_F(SimBusControlTest, UnplugAfterBlocksDropsTheUnitAtTheNextBlockPastTheCount) {
    ASSERT_TRUE(control.Run(SIM_PLUG_SCENARIO, L"ready"));
    now.clear();
    ASSERT_EQ(OpenUnit(deviceSession), LINK_OK);
    ASSERT_EQ(WriteBlocks(2), (std::vector<bool>{true, true}));

    EXPECT_TRUE(control.Run(SIM_UNPLUG_AFTER_BLOCKS, L"3"));
    EXPECT_TRUE(later.empty());
    EXPECT_EQ(WriteBlocks(3), (std::vector<bool>{true, true, true})) << "three further blocks still go";
    EXPECT_TRUE(later.empty());
    EXPECT_EQ(WriteBlocks(1), std::vector<bool>{false});
    EXPECT_EQ(later, (std::vector<Delivery>{{0x8004, FIRST}})) << "announced outside the write";
    EXPECT_TRUE(now.empty());
}

TEST_F(SimBusControlTest, UnplugAfterBlocksNeedsADecimalCountAndAUnit) {
    EXPECT_FALSE(control.Run(SIM_UNPLUG_AFTER_BLOCKS, L"5")) << "no unit";
    ASSERT_TRUE(control.Run(SIM_PLUG_SCENARIO, L"ready"));
    for (const wchar_t* bad : {L"", L"x", L"-1", L"+1", L"1 ", L"1234567890", L"\u0661"}) {
        EXPECT_FALSE(control.Run(SIM_UNPLUG_AFTER_BLOCKS, bad)) << testing::PrintToString(std::wstring(bad));
    }
    EXPECT_EQ(bus.FirstUnit()->unplugAtBlock, UINT32_MAX);
    EXPECT_TRUE(control.Run(SIM_UNPLUG_AFTER_BLOCKS, L"0"));
    EXPECT_EQ(bus.FirstUnit()->unplugAtBlock, 0u);
}

TEST_F(SimBusControlTest, SwapEscPutsTheScenariosEscBehindTheFirstUnitSilently) {
    EXPECT_FALSE(control.Run(SIM_SWAP_ESC, L"foreign-esc")) << "no unit";
    ASSERT_TRUE(control.Run(SIM_PLUG_SCENARIO, L"ready"));
    now.clear();
    ASSERT_EQ(OpenUnit(deviceSession), LINK_OK);
    for (const wchar_t* bad : {L"", L"no-such-scenario", L"none", L"\u00e9"}) {
        EXPECT_FALSE(control.Run(SIM_SWAP_ESC, bad)) << testing::PrintToString(std::wstring(bad));
    }

    EXPECT_TRUE(control.Run(SIM_SWAP_ESC, L"foreign-esc"));

    EXPECT_TRUE(now.empty());
    EXPECT_TRUE(later.empty());
    UnitIdentity identity;
    ASSERT_EQ(QueryIdentity(deviceSession, identity), LINK_OK) << "the same unit, still open";
    EXPECT_EQ(identity.escBootInfo.escHardwareId, 0x12345678u);
    EXPECT_TRUE(control.Run(SIM_SWAP_ESC, L"no-esc"));
    ASSERT_EQ(QueryIdentity(deviceSession, identity), LINK_OK);
    EXPECT_EQ(identity.escState, 2);
}

TEST_F(SimBusControlTest, FreeUnitLetsTheHeldUnitBeOpenedWithoutAnEvent) {
    EXPECT_FALSE(control.Run(SIM_FREE_UNIT, L"")) << "no unit";
    ASSERT_TRUE(LoadSimScenario("in-use", bus));
    EXPECT_EQ(OpenUnit(deviceSession), LINK_UNIT_NOT_FOUND);
    EXPECT_TRUE(UnitBusyAtLastOpen());

    EXPECT_TRUE(control.Run(SIM_FREE_UNIT, L""));

    EXPECT_TRUE(now.empty());
    EXPECT_EQ(OpenUnit(deviceSession), LINK_OK);
    EXPECT_FALSE(UnitBusyAtLastOpen());
    EXPECT_FALSE(control.Run(SIM_FREE_UNIT, L"")) << "nobody holds it now";
}

TEST_F(SimBusControlTest, UnitDroppingOffInTheTransferScenarioIsAnnouncedLater) {
    ASSERT_TRUE(LoadSimScenario("unplug-during-transfer", bus));
    ASSERT_EQ(OpenUnit(deviceSession), LINK_OK);
    const std::vector<bool> written = WriteBlocks(301);
    EXPECT_TRUE(written[299]);
    EXPECT_FALSE(written[300]);
    EXPECT_EQ(later, (std::vector<Delivery>{{0x8004, FIRST}}));

    // Delivered to the dialog, the removal gives the unit up.
    FakeDialog dialog;
    const TestBroadcast removal{5, later[0].path};
    EXPECT_EQ(OnDeviceChange(dialog, later[0].event, BroadcastOf(removal)), 1);
    EXPECT_EQ(deviceSession.handle, NO_DEVICE_HANDLE);
    EXPECT_EQ(dialog.Status(), std::wstring(CatalogueText(IDS_CONNECTION_LOST, CatalogueLanguage::English)) +
                                   L"\r\n\r\n" + CatalogueText(IDS_HINT, CatalogueLanguage::English));
}

}  // namespace
