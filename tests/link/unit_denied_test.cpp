// Telling a programming unit that may not be opened from no unit at all.
#include <string>

#include "tests/link/link_fixture.h"

namespace {

using UnitDeniedTest = LinkTest;

const std::wstring keyboard = L"\\\\?\\hid#vid_046d&pid_c31c#keyboard";
const std::wstring pid3 = L"\\\\?\\hid#vid_2e6d&pid_0003#other";
const std::wstring box = L"\\\\?\\hid#vid_2e6d&pid_0002#box";
const std::wstring puck = L"\\\\?\\hid#vid_2e6d&pid_0001#puck";

// A bus whose devices cannot be opened for another reason than permission (in use
// elsewhere, say); they stay listed with their ids.
class BusyHost : public SimHidHost {
public:
    using SimHidHost::SimHidHost;
    DeviceHandle Open(const std::wstring&) override { return NO_DEVICE_HANDLE; }
    bool LastOpenDenied() override { return false; }
};

struct DeniedCase {
    const char* name;
    std::vector<std::wstring> units;       // TUNE-BOX or TUNEPUCK by path
    std::vector<std::wstring> others;      // plugged before the units
    std::vector<std::wstring> unopenable;  // refused: access denied
    std::int32_t expected;
    bool denied;
};

TEST_F(UnitDeniedTest, OnlyAUnitRefusedForWantOfPermissionCounts) {
    const DeniedCase cases[] = {
        {"a unit refused", {box}, {}, {box}, LINK_UNIT_NOT_FOUND, true},
        {"a refused keyboard is no unit", {}, {keyboard}, {keyboard}, LINK_UNIT_NOT_FOUND, false},
        {"the unit vendor's product 3 refused is no unit", {}, {pid3}, {pid3}, LINK_UNIT_NOT_FOUND, false},
        {"a refused unit passed over for the next: OpenUnit's result is unchanged",
         {box, puck}, {}, {box}, LINK_OK, true},
        {"a unit opened, nothing refused", {box}, {keyboard}, {}, LINK_OK, false},
        {"no device", {}, {}, {}, LINK_UNIT_NOT_FOUND, false},
    };
    for (const DeniedCase& c : cases) {
        SCOPED_TRACE(c.name);
        FakeClock caseClock;
        SimHidHost bus(caseClock);
        UseHost use(bus);
        for (const std::wstring& path : c.others) {
            bus.PlugOther(path, path == keyboard ? 0x046D : UNIT_VENDOR_ID, path == keyboard ? 0xC31C : 3);
        }
        for (const std::wstring& path : c.units) {
            SimConfig config;
            config.productId = path == puck ? PRODUCT_TUNEPUCK : PRODUCT_TUNE_BOX;
            bus.Plug(path, config);
        }
        bus.unopenable = c.unopenable;

        EXPECT_EQ(OpenUnit(deviceSession), c.expected);
        EXPECT_EQ(UnitDeniedAtLastOpen(), c.denied);
    }
}

TEST_F(UnitDeniedTest, AUnitThatFailsToOpenForAnotherReasonWasNotRefused) {
    BusyHost bus(clock);
    UseHost use(bus);
    bus.Plug(box, SimConfig{});
    EXPECT_EQ(OpenUnit(deviceSession), LINK_UNIT_NOT_FOUND);
    EXPECT_FALSE(UnitDeniedAtLastOpen());
}

TEST_F(UnitDeniedTest, EachSearchTellsOnlyAboutItself) {
    PlugUnit();
    host.unopenable.push_back(SimUnitPath(PRODUCT_TUNE_BOX));
    EXPECT_EQ(OpenUnit(deviceSession), LINK_UNIT_NOT_FOUND);
    EXPECT_TRUE(UnitDeniedAtLastOpen());

    // The rule installed: the unit opens, and the refusal is forgotten.
    host.unopenable.clear();
    EXPECT_EQ(OpenUnit(deviceSession), LINK_OK);
    EXPECT_FALSE(UnitDeniedAtLastOpen());

    host.unopenable.push_back(SimUnitPath(PRODUCT_TUNE_BOX));
    EXPECT_EQ(OpenUnit(deviceSession), LINK_UNIT_NOT_FOUND);
    EXPECT_TRUE(UnitDeniedAtLastOpen());
    // A search that gets no list at all met no unit either.
    host.listFails = true;
    EXPECT_EQ(OpenUnit(deviceSession), LINK_NO_DEVICE);
    EXPECT_FALSE(UnitDeniedAtLastOpen());
}

}  // namespace
