// A simulated bus and a fake clock put behind the link's seams for one test.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <initializer_list>
#include <vector>

#include "link/clock.h"
#include "link/device_session.h"
#include "link/link.h"
#include "link/hid_host.h"
#include "sim/sim_unit.h"

// A report of REPORT_SIZE bytes: the leading bytes given, zero behind them.
inline std::vector<std::uint8_t> Report(std::initializer_list<int> leading) {
    std::vector<std::uint8_t> bytes(REPORT_SIZE, 0);
    std::size_t i = 0;
    for (int value : leading) {
        bytes[i++] = static_cast<std::uint8_t>(value);
    }
    return bytes;
}

inline std::vector<std::uint8_t> Bytes(const SimRequest& request) {
    return {request.bytes, request.bytes + REPORT_SIZE};
}

// Replaces reply bytes from offset on, for replies to one command only.
inline auto EditReplyTo(std::uint8_t command, std::size_t offset, std::vector<std::uint8_t> bytes) {
    return [=](const std::uint8_t* request, std::uint8_t* reply) {
        if (request[1] == command) {
            std::memcpy(reply + offset, bytes.data(), bytes.size());
        }
    };
}

// A request with its argument and data words set as given, everything else zero.
inline RequestReport RequestWith(std::uint8_t command, std::uint8_t length, std::uint8_t argument,
                                 std::initializer_list<std::uint32_t> words = {}) {
    RequestReport request = MakeRequest(command, length);
    request.argument = argument;
    std::size_t offset = 0;
    for (std::uint32_t word : words) {
        std::memcpy(request.data + offset, &word, sizeof word);
        offset += sizeof word;
    }
    return request;
}

class LinkTest : public ::testing::Test {
protected:
    FakeClock clock;
    SimHidHost host{clock};

    void SetUp() override {
        hidHost = &host;
        systemClock = &clock;
        host.setLastError = [this](std::uint32_t error) { clock.lastError = error; };
        deviceSession.Reset();
    }

    void TearDown() override {
        deviceSession.Reset();
        EXPECT_EQ(host.OpenHandleCount(), 0u) << "a handle was left open";
        EXPECT_EQ(host.ListCount(), 0u) << "an enumeration list was left";
        hidHost = nullptr;
        systemClock = nullptr;
    }

    SimulatedUnit& PlugUnit(const SimConfig& config = {}, unsigned instance = 0) {
        return host.Plug(SimUnitPath(config.productId, instance), config);
    }

    // A unit opened and identified; what the identification sent is forgotten.
    SimulatedUnit& OpenedUnit(const SimConfig& config = {}) {
        SimulatedUnit& unit = PlugUnit(config);
        EXPECT_EQ(OpenUnit(deviceSession), LINK_OK);
        unit.requests.clear();
        return unit;
    }

    // An opened unit that takes erases and blocks: lock held, protection lifted.
    SimulatedUnit& WritableUnit(const SimConfig& config = {}) {
        SimulatedUnit& unit = OpenedUnit(config);
        unit.systemLock = true;
        unit.writeProtected = false;
        return unit;
    }
};

// Puts another bus behind the link for one scope; gives its unit up when leaving.
class UseHost {
public:
    UseHost(HidHost& host) : previous_(hidHost) { hidHost = &host; }
    ~UseHost() {
        deviceSession.Reset();
        hidHost = previous_;
    }
    UseHost(const UseHost&) = delete;
    UseHost& operator=(const UseHost&) = delete;

private:
    HidHost* previous_;
};

// Every field as DeviceSession::Reset leaves it.
inline void ExpectResetState(const DeviceSession& session) {
    EXPECT_EQ(session.handle, NO_DEVICE_HANDLE);
    EXPECT_EQ(session.devicePath, nullptr);
    EXPECT_EQ(session.outReportLength, 0u);
    EXPECT_EQ(session.inReportLength, 0u);
    EXPECT_EQ(session.unitMode, 0);
    EXPECT_EQ(session.unitFirmwareVersion, 0u);
    EXPECT_EQ(session.unitInfoWord, 0u);
    EXPECT_EQ(session.escState, 0);
    EXPECT_EQ(session.escAuxWord, 0);
    EXPECT_EQ(session.unitBootInfo.bootInfoA, 0);
    EXPECT_EQ(session.unitBootInfo.bootInfoB, 0);
    EXPECT_EQ(session.unitBootInfo.bootInfoC, 0u);
    EXPECT_EQ(session.unitBootInfo.bootInfoD, 0u);
    EXPECT_EQ(session.unitBootInfo.bootInfoE, 0);
    const EscAppInfo noAppInfo{};
    const EscBootInfo noBootInfo{};
    EXPECT_EQ(std::memcmp(&session.escAppInfo, &noAppInfo, sizeof noAppInfo), 0);
    EXPECT_EQ(std::memcmp(&session.escBootInfo, &noBootInfo, sizeof noBootInfo), 0);
    EXPECT_EQ(session.productId, 0);
}
