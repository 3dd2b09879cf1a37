// Which interfaces a camera may sit behind: USB adapters told by their driver in sysfs, the
// choice by subnet or by name, candidates from addresses, and the watcher that sees them come
// and go.
#include "fleet/candidate.h"
#include "fleet/interface_watcher.h"
#include "fleet/network_interface.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <random>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#ifdef __linux__
#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#endif

using namespace orv;
using namespace orv::fleet;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

constexpr std::uint32_t kCamera = 0xC0A8029E; // 192.168.2.158

NetworkInterface iface(std::string name, bool up, std::vector<std::uint32_t> ipv4, std::string driver = {},
                       unsigned index = 0)
{
    return NetworkInterface{std::move(name), index, up, std::move(ipv4), std::move(driver)};
}

std::vector<std::string> names(const std::vector<NetworkInterface>& list)
{
    std::vector<std::string> out;
    for (const auto& i : list) {
        out.push_back(i.name);
    }
    return out;
}

// A sysfs tree as the kernel links it: class/net/<name>/device/driver -> bus/<bus>/drivers/<driver>.
TEST(UsbNetworkDriver, AdaptersAreKnownByTheirDriverInAFakeSysfs)
{
    const fs::path root = fs::temp_directory_path() / ("orv-sysfs-" + std::to_string(std::random_device{}()));
    struct Row
    {
        std::string name, bus, driver, expected;
    };
    const std::vector<Row> rows{
        {"usb0", "usb", "rndis_host", "rndis_host"},
        {"enx0a1b2c3d4e5f", "usb", "cdc_ether", "cdc_ether"},
        {"usb1", "usb", "cdc_ncm", "cdc_ncm"},
        {"usb2", "usb", "cdc_eem", "cdc_eem"},
        {"eth0", "pci", "e1000e", ""},    // an ordinary card
        {"wwan0", "usb", "qmi_wwan", ""}, // a USB modem is no camera
        {"veth0", "", "", ""},            // no driver link at all
    };
    std::error_code error;
    for (const auto& row : rows) {
        const fs::path device = root / "class" / "net" / row.name / "device";
        fs::create_directories(device);
        if (!row.driver.empty()) {
            fs::create_directories(root / "bus" / row.bus / "drivers" / row.driver);
            fs::create_directory_symlink(fs::path("../../../../bus") / row.bus / "drivers" / row.driver,
                                         device / "driver", error);
        }
    }
    for (const auto& row : rows) {
        EXPECT_EQ(usbNetworkDriver(root, row.name), error ? "" : row.expected) << row.name;
    }
    EXPECT_EQ(usbNetworkDriver(root, "missing0"), "");
    // Names never walk out of class/net, even where the walk would find a driver.
    EXPECT_EQ(usbNetworkDriver(root, "../net/usb0"), "");
    EXPECT_EQ(usbNetworkDriver(root, ".."), "");
    fs::remove_all(root);
    if (error) {
        GTEST_SKIP() << "no symbolic links here: " << error.message();
    }
}

TEST(ChooseCameraInterfaces, ThoseInTheCameraSubnetThatAreUpWithUsbAdaptersFirst)
{
    const std::vector<NetworkInterface> all{
        iface("lo", true, {0x7F000001}),
        iface("enp3s0", true, {0x0A000005, 0xC0A80264}), // a second address in the subnet
        iface("usb0", true, {0xC0A8020A}, "rndis_host"),
        iface("usb1", false, {0xC0A8020B}, "cdc_ether"), // down
        iface("usb2", true, {0xC0A8030A}, "rndis_host"), // another subnet
        iface("usb3", true, {}, "rndis_host"),           // no address yet
        iface("wlan0", true, {0xC0A802FE}),
        iface("usb4", true, {0xC0A80201}, "cdc_ncm"),
    };
    const auto choice = chooseCameraInterfaces(all, kCamera);
    EXPECT_EQ(names(choice.chosen), (std::vector<std::string>{"usb0", "usb4", "enp3s0", "wlan0"}));
    EXPECT_TRUE(choice.missing.empty());

    EXPECT_TRUE(chooseCameraInterfaces(all, 0x0B000001).chosen.empty()) << "11.0.0.1: nothing in its subnet";
}

TEST(ChooseCameraInterfaces, NamedOnesAreTakenAsTheyAre)
{
    const std::vector<NetworkInterface> all{
        iface("eth0", true, {0x0A000005}),
        iface("usb1", false, {}, "cdc_ether"),
    };
    const auto choice = chooseCameraInterfaces(all, kCamera, {"eth0", "nosuch0", "usb1", "eth0"});
    EXPECT_EQ(names(choice.chosen), (std::vector<std::string>{"usb1", "eth0"}))
        << "down or out of the subnet, once each, USB first";
    EXPECT_EQ(choice.missing, (std::vector<std::string>{"nosuch0"}));
}

TEST(FindCandidates, FromInterfacesOrFromAddresses)
{
    const std::vector<NetworkInterface> all{
        iface("eth0", true, {0xC0A80264}, "", 2),
        iface("usb0", true, {0xC0A8020A}, "rndis_host", 7),
    };
    const auto list = findCandidates(SearchPlan{}, all);
    ASSERT_EQ(list.candidates.size(), 2u);
    EXPECT_TRUE(list.problems.empty());
    EXPECT_EQ(list.candidates[0].via, (net::InterfaceBinding{"usb0", 7}));
    EXPECT_TRUE(list.candidates[0].usbAdapter);
    EXPECT_EQ(list.candidates[0].label(), "usb0 192.168.2.158");

    SearchPlan named;
    named.interfaceNames = {"wlan9"};
    EXPECT_EQ(findCandidates(named, all).problems,
              (std::vector<std::string>{"no network interface is named \"wlan9\""}));
    SearchPlan bad;
    bad.cameraAddress = "192.168.2";
    EXPECT_TRUE(findCandidates(bad, all).candidates.empty());

    // Simulated cameras need no adapter: their addresses win over interface names.
    SearchPlan simulated;
    simulated.interfaceNames = {"usb0"};
    simulated.cameraAddresses = {"127.0.31.2", "127.0.31.3", "not-an-address", "127.0.31.02", "127.0.31.3"};
    const auto plain = findCandidates(simulated, all);
    ASSERT_EQ(plain.candidates.size(), 2u) << "one spelling per address, each once";
    EXPECT_EQ(plain.candidates[0].label(), "127.0.31.2");
    EXPECT_TRUE(plain.candidates[0].via.empty());
    EXPECT_EQ(plain.candidates[1].address, "127.0.31.3");
    EXPECT_EQ(plain.problems, (std::vector<std::string>{"\"not-an-address\" is not an IPv4 address"}));
}

// The watcher's reports, collected for the test to await.
class Reports
{
public:
    InterfaceWatcher::Listener listener()
    {
        return [this](const InterfaceChange& change) {
            std::lock_guard lock(mutex_);
            changes_.push_back(change);
            arrived_.notify_all();
        };
    }

    // The next report not yet taken, or an empty one when none comes in time.
    InterfaceChange next(std::chrono::seconds timeout = 10s)
    {
        std::unique_lock lock(mutex_);
        if (!arrived_.wait_for(lock, timeout, [&] { return taken_ < changes_.size(); })) {
            return {};
        }
        return changes_[taken_++];
    }

private:
    std::mutex mutex_;
    std::condition_variable arrived_;
    std::vector<InterfaceChange> changes_;
    std::size_t taken_ = 0;
};

TEST(InterfaceWatcher, ReportsInterfacesAsTheyComeAndGo)
{
    std::mutex mutex;
    std::vector<NetworkInterface> present{iface("eth0", true, {2})};
    const auto set = [&](std::vector<NetworkInterface> list) {
        std::lock_guard lock(mutex);
        present = std::move(list);
    };
    Reports reports;
    InterfaceWatcher watcher(
        [&] {
            std::lock_guard lock(mutex);
            return present;
        },
        reports.listener(), 20ms);
    ASSERT_TRUE(watcher.start());

    EXPECT_EQ(names(reports.next().appeared), (std::vector<std::string>{"eth0"})) << "the first look";
    set({iface("eth0", true, {2}), iface("usb0", true, {}, "rndis_host")});
    EXPECT_EQ(names(reports.next().appeared), (std::vector<std::string>{"usb0"}));
    set({iface("eth0", true, {2}), iface("usb0", true, {0xC0A8020A}, "rndis_host")});
    EXPECT_EQ(names(reports.next().changed), (std::vector<std::string>{"usb0"}));
    set({iface("usb0", true, {0xC0A8020A}, "rndis_host")});
    const auto gone = reports.next();
    EXPECT_EQ(names(gone.vanished), (std::vector<std::string>{"eth0"}));
    EXPECT_EQ(names(gone.current), (std::vector<std::string>{"usb0"}));

    watcher.stop();
    watcher.stop(); // harmless twice
    EXPECT_TRUE(watcher.start()) << "and it starts again";
    EXPECT_EQ(names(reports.next().appeared), (std::vector<std::string>{"usb0"})) << "a fresh first look";
}

#ifdef __linux__
// The kernel's word wakes the watcher long before its next look: in a network namespace of this
// test's own (only its loopback interface, down), switching that interface on is reported
// although the watcher would look again only in an hour.
TEST(InterfaceWatcher, KernelMessagesWakeItAtOnce)
{
    std::string skip;
    InterfaceChange first;
    InterfaceChange second;
    std::thread inNamespace([&] {
        // A thread's namespace is its own; the watcher's thread, started from here, shares it.
        if (::unshare(CLONE_NEWNET) != 0) {
            skip = std::string("no network namespace of our own: ") + std::strerror(errno);
            return;
        }
        Reports reports;
        InterfaceWatcher watcher([] { return systemInterfaces(); }, reports.listener(), 1h);
        if (!watcher.start()) {
            skip = "no watcher thread";
            return;
        }
        first = reports.next();
        const int s = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        ifreq request{};
        std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
        if (s < 0 || ::ioctl(s, SIOCGIFFLAGS, &request) != 0) {
            skip = "cannot read the flags of lo";
        } else {
            request.ifr_flags = static_cast<short>(request.ifr_flags | IFF_UP);
            if (::ioctl(s, SIOCSIFFLAGS, &request) != 0) {
                skip = "cannot switch lo on";
            } else {
                second = reports.next();
            }
        }
        if (s >= 0) {
            ::close(s);
        }
        watcher.stop();
    });
    inNamespace.join();
    if (!skip.empty()) {
        GTEST_SKIP() << skip;
    }
    ASSERT_EQ(names(first.appeared), (std::vector<std::string>{"lo"}));
    EXPECT_FALSE(first.appeared[0].up);
    ASSERT_EQ(names(second.changed), (std::vector<std::string>{"lo"})) << "no report within 10 s";
    EXPECT_TRUE(second.changed[0].up);
}
#endif

} // namespace
