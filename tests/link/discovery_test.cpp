// Finding and opening the programming unit on the bus.
#include <string>

#include "tests/link/link_fixture.h"

namespace {

using DiscoveryTest = LinkTest;

struct BusDevice {
    std::wstring path;
    std::uint16_t vendorId;
    std::uint16_t productId;
    bool unit;  // answers like a unit; otherwise a plain HID device
    enum { Fine, NoPath, Unopenable } trouble = Fine;
};

struct DiscoveryCase {
    const char* name;
    std::vector<BusDevice> bus;
    std::int32_t expected;
    std::vector<std::wstring> opened;  // in order
    std::wstring taken;                // empty: none
    std::uint16_t productId;
};

const std::wstring keyboard = L"\\\\?\\hid#vid_046d&pid_c31c#keyboard";
const std::wstring pid3 = L"\\\\?\\hid#vid_2e6d&pid_0003#other";
const std::wstring foreign1 = L"\\\\?\\hid#vid_1234&pid_0001#foreign";
const std::wstring box = L"\\\\?\\hid#vid_2e6d&pid_0002#box";
const std::wstring puck = L"\\\\?\\hid#vid_2e6d&pid_0001#puck";

TEST_F(DiscoveryTest, TakesTheFirstUnitInEnumerationOrderAndClosesEverythingElse) {
    const DiscoveryCase cases[] = {
        {"no device", {}, LINK_UNIT_NOT_FOUND, {}, L"", 0},
        {"only other devices",
         {{keyboard, 0x046D, 0xC31C, false}, {pid3, UNIT_VENDOR_ID, 3, false}},
         LINK_UNIT_NOT_FOUND, {keyboard, pid3}, L"", 0},
        {"unit vendor with product 3 is passed over",
         {{pid3, UNIT_VENDOR_ID, 3, false}, {box, UNIT_VENDOR_ID, 2, true}},
         LINK_OK, {pid3, box}, box, 2},
        {"product 1 of another vendor is not taken",
         {{foreign1, 0x1234, 1, true}, {puck, UNIT_VENDOR_ID, 1, true}},
         LINK_OK, {foreign1, puck}, puck, 1},
        {"two units: the first is taken, the second not even opened",
         {{puck, UNIT_VENDOR_ID, 1, true}, {box, UNIT_VENDOR_ID, 2, true}},
         LINK_OK, {puck}, puck, 1},
        {"a unit that cannot be opened counts as absent",
         {{box, UNIT_VENDOR_ID, 2, true, BusDevice::Unopenable}},
         LINK_UNIT_NOT_FOUND, {}, L"", 0},
        {"an unopenable unit is skipped for the next",
         {{box, UNIT_VENDOR_ID, 2, true, BusDevice::Unopenable}, {puck, UNIT_VENDOR_ID, 1, true}},
         LINK_OK, {puck}, puck, 1},
        {"an interface without a readable path is skipped",
         {{box, UNIT_VENDOR_ID, 2, true, BusDevice::NoPath}, {puck, UNIT_VENDOR_ID, 1, true}},
         LINK_OK, {puck}, puck, 1},
    };
    for (const DiscoveryCase& c : cases) {
        SCOPED_TRACE(c.name);
        FakeClock caseClock;
        SimHidHost bus(caseClock);
        UseHost use(bus);
        for (const BusDevice& device : c.bus) {
            if (device.unit) {
                SimConfig config;
                config.vendorId = device.vendorId;
                config.productId = device.productId;
                bus.Plug(device.path, config);
            } else {
                bus.PlugOther(device.path, device.vendorId, device.productId);
            }
            if (device.trouble == BusDevice::NoPath) bus.noPath.push_back(device.path);
            if (device.trouble == BusDevice::Unopenable) bus.unopenable.push_back(device.path);
        }

        EXPECT_EQ(OpenUnit(deviceSession), c.expected);
        EXPECT_EQ(bus.opened, c.opened);
        EXPECT_EQ(bus.ListCount(), 0u);
        if (c.taken.empty()) {
            ExpectResetState(deviceSession);
            EXPECT_EQ(bus.OpenHandleCount(), 0u);
        } else {
            ASSERT_NE(deviceSession.devicePath, nullptr);
            EXPECT_EQ(std::wstring(deviceSession.devicePath.get()), c.taken);
            EXPECT_EQ(deviceSession.productId, c.productId);
            EXPECT_EQ(bus.OpenHandleCount(), 1u);
        }
        deviceSession.Reset();
        EXPECT_EQ(bus.OpenHandleCount(), 0u);
    }
}

TEST_F(DiscoveryTest, NoListOfInterfacesGivesNoDevice) {
    OpenedUnit();
    host.listFails = true;
    EXPECT_EQ(OpenUnit(deviceSession), LINK_NO_DEVICE);
    ExpectResetState(deviceSession);
    EXPECT_EQ(host.OpenHandleCount(), 0u);
}

// Notes what was still open when the search asked for the list.
class WatchingHost : public SimHidHost {
public:
    using SimHidHost::SimHidHost;
    std::size_t handlesAtSearch = 99;
    bool pathAtSearch = true;
    HidInterfaceList* GetInterfaceList() override {
        handlesAtSearch = OpenHandleCount();
        pathAtSearch = deviceSession.devicePath != nullptr;
        return SimHidHost::GetInterfaceList();
    }
};

TEST_F(DiscoveryTest, OpeningAgainGivesTheOldUnitUpBeforeTheSearch) {
    WatchingHost bus(clock);
    UseHost use(bus);
    const std::wstring path = SimUnitPath(PRODUCT_TUNE_BOX);
    bus.Plug(path, SimConfig{});
    ASSERT_EQ(OpenUnit(deviceSession), LINK_OK);
    const DeviceHandle first = deviceSession.handle;

    // The same unit found again gets a fresh handle; the old one is closed.
    ASSERT_EQ(OpenUnit(deviceSession), LINK_OK);
    EXPECT_EQ(bus.handlesAtSearch, 0u);
    EXPECT_FALSE(bus.pathAtSearch);
    EXPECT_NE(deviceSession.handle, first);
    EXPECT_EQ(bus.OpenHandleCount(), 1u);

    // Nothing found: the old unit is given up all the same.
    bus.Unplug(path);
    EXPECT_EQ(OpenUnit(deviceSession), LINK_UNIT_NOT_FOUND);
    EXPECT_EQ(bus.handlesAtSearch, 0u);
    EXPECT_FALSE(bus.pathAtSearch);
    ExpectResetState(deviceSession);
    EXPECT_EQ(bus.OpenHandleCount(), 0u);
    EXPECT_EQ(bus.ListCount(), 0u);
}

TEST_F(DiscoveryTest, AFailedIdentificationKeepsTheUnitOpenForTheCaller) {
    SimulatedUnit& unit = PlugUnit();
    unit.faults[1] = {SimFault::Kind::ReadFails, 0, 0};
    EXPECT_EQ(OpenUnit(deviceSession), LINK_READ_FAILED);
    EXPECT_NE(deviceSession.handle, NO_DEVICE_HANDLE);
    ASSERT_NE(deviceSession.devicePath, nullptr);
    EXPECT_EQ(std::wstring(deviceSession.devicePath.get()), SimUnitPath(PRODUCT_TUNE_BOX));
    EXPECT_EQ(deviceSession.productId, PRODUCT_TUNE_BOX);
    EXPECT_EQ(deviceSession.escState, 3);  // stored before the failing step
}

}  // namespace
