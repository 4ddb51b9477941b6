#include "dsm/sane/DeviceChoice.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sys/stat.h>

namespace sanebridge {

std::string DefaultDeviceFile() {
    // XDG's rule: a relative XDG_CONFIG_HOME is invalid and ignored.
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    std::string base;
    if (xdg && xdg[0] == '/')
        base = xdg;
    else if (const char* home = std::getenv("HOME"))
        base = std::string(home) + "/.config";
    else
        return {};
    return base + "/velmora/sane-default-device";
}

std::string ReadDefaultDevice() {
    std::ifstream in(DefaultDeviceFile());
    std::string name;
    std::getline(in, name);
    return name;
}

bool WriteDefaultDevice(const std::string& name) {
    const std::string path = DefaultDeviceFile();
    if (path.empty())
        return false;
    const std::string dir = path.substr(0, path.rfind('/'));
    mkdir(dir.substr(0, dir.rfind('/')).c_str(), 0700);
    mkdir(dir.c_str(), 0700);
    // Written beside and renamed over, so a crash never leaves half a name.
    const std::string temp = path + ".new";
    {
        std::ofstream out(temp, std::ios::trunc);
        out << name << '\n';
        if (!out.flush())
            return false;
    }
    return std::rename(temp.c_str(), path.c_str()) == 0;
}

int ChooseDevice(const std::vector<Device>& devices, const std::string& wanted) {
    for (std::size_t i = 0; i < devices.size(); ++i)
        if (devices[i].name == wanted)
            return static_cast<int>(i);
    return devices.empty() ? -1 : 0;
}

std::string DeviceLabel(const Device& device) {
    std::string label = device.vendor;
    if (!device.model.empty())
        label += (label.empty() ? "" : " ") + device.model;
    if (label.empty())
        return device.name;
    return label + " (" + device.name + ")";
}

} // namespace sanebridge
