// How SANE devices are named in the source list: maker and model as people know the device, the
// connection where SANE tells it, and every label of a list distinct.

#include "dsm/sane/DeviceChoice.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

using sanebridge::Device;
using sanebridge::DeviceLabels;

namespace {

struct Case {
    const char* what;
    std::vector<Device> devices;
    std::vector<std::string> labels;
};

const Device kTest0{"test:0", "Noname", "frontend-tester", "virtual device"};
const Device kTest1{"test:1", "Noname", "frontend-tester", "virtual device"};
const Device kAirscanHp{"airscan:e0:HP OfficeJet 8010", "HP", "OfficeJet 8010", "ip=192.168.1.20"};
const Device kEsclHp{"escl:http://192.168.1.20:80", "ESCL", "HP OfficeJet 8010", "flatbed scanner"};

const Case kCases[] = {
    {"the test backend's placeholder maker is left out", {kTest0}, {"frontend-tester"}},
    {"two test scanners: their device strings tell them apart",
     {kTest0, kTest1},
     {"frontend-tester (test:0)", "frontend-tester (test:1)"}},
    {"a driverless device from the configuration file: its name, no protocol as maker",
     {{"airscan:e0:Test MFP", "eSCL", "Test MFP", "ip=127.0.0.1"}},
     {"Test MFP"}},
    {"a WSD device on the network",
     {{"airscan:w1:Brother MFC-L2750DW", "WSD", "Brother MFC-L2750DW", "ip=192.168.1.9"}},
     {"Brother MFC-L2750DW (Netzwerk)"}},
    {"a discovered network device: maker and model",
     {kAirscanHp},
     {"HP OfficeJet 8010 (Netzwerk)"}},
    {"one device through two backends: the backend tells them apart",
     {kAirscanHp, kEsclHp},
     {"HP OfficeJet 8010 (Netzwerk, airscan)", "HP OfficeJet 8010 (Netzwerk, escl)"}},
    {"two of one model on one backend",
     {{"airscan:e0:Canon MF440", "Canon", "MF440", "ip=192.168.1.7"},
      {"airscan:e1:Canon MF440", "Canon", "MF440", "ip=192.168.1.8"}},
     {"Canon MF440 (Netzwerk, airscan:e0:Canon MF440)",
      "Canon MF440 (Netzwerk, airscan:e1:Canon MF440)"}},
    {"a USB scanner",
     {{"epson2:libusb:001:004", "Epson", "Perfection V39", "flatbed scanner"}},
     {"Epson Perfection V39 (USB)"}},
    {"a model that repeats its maker, on a USB path",
     {{"hpaio:/usb/DeskJet_2700?serial=CN12", "HP", "HP DeskJet 2700", "all-in-one"}},
     {"HP DeskJet 2700 (USB)"}},
    {"a USB device behind ipp-usb, on the loopback address: no network hint",
     {{"escl:http://localhost:60000", "ESCL", "EPSON ET-2810 Series", "flatbed scanner"}},
     {"EPSON ET-2810 Series"}},
    {"a device on a SANE network daemon",
     {{"net:192.168.1.3:plustek:libusb:002:003", "Canon", "CanoScan LiDE 25", "flatbed scanner"}},
     {"Canon CanoScan LiDE 25 (Netzwerk)"}},
    {"neither maker nor model: the device string",
     {{"v4l:/dev/video0", "", "", ""}, {"pixma:04A91912", " ", "", "multi-function peripheral"}},
     {"v4l:/dev/video0", "pixma:04A91912"}},
    {"only a maker", {{"xerox_mfp:libusb:003:002", "Xerox", "", ""}}, {"Xerox (USB)"}},
    {"no devices", {}, {}},
};

} // namespace

TEST(DeviceLabels, NameTheDevicesAsPeopleKnowThem) {
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.what);
        const std::vector<std::string> labels = DeviceLabels(c.devices);
        EXPECT_EQ(labels, c.labels);
        EXPECT_EQ(std::set<std::string>(labels.begin(), labels.end()).size(), labels.size());
    }
}

// The scanner dialog's title names a device on its own, without a list to tell it apart from.
TEST(DeviceLabels, OneDeviceOnItsOwn) {
    EXPECT_EQ(sanebridge::DeviceLabel(kTest1), "frontend-tester");
    EXPECT_EQ(sanebridge::DeviceLabel(kEsclHp), "HP OfficeJet 8010 (Netzwerk)");
}
