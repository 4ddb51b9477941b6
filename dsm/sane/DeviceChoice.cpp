#include "dsm/sane/DeviceChoice.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sys/stat.h>

namespace sanebridge {

namespace {

std::string ConfigFolder() {
    // XDG's rule: a relative XDG_CONFIG_HOME is invalid and ignored.
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg && xdg[0] == '/')
        return std::string(xdg) + "/velmora";
    if (const char* home = std::getenv("HOME"))
        return std::string(home) + "/.config/velmora";
    return {};
}

// Writes beside and renames over, so a crash never leaves half a file.
bool WriteAtomically(const std::string& path, const std::string& text) {
    const std::string temp = path + ".new";
    {
        std::ofstream out(temp, std::ios::trunc);
        out << text;
        if (!out.flush())
            return false;
    }
    return std::rename(temp.c_str(), path.c_str()) == 0;
}

void MakeFolders(const std::string& folder) {
    for (std::size_t i = 1; i != std::string::npos && i <= folder.size();
         i = folder.find('/', i + 1))
        mkdir(folder.substr(0, i).c_str(), 0700);
    mkdir(folder.c_str(), 0700);
}

std::string OptionsFile(const std::string& device) {
    std::string name = device;
    for (char& c : name)
        if (c == '/')
            c = '_';
    return ConfigFolder() + "/sane-options/" + name;
}

} // namespace

std::string DefaultDeviceFile() {
    const std::string folder = ConfigFolder();
    return folder.empty() ? std::string() : folder + "/sane-default-device";
}

std::string ReadDefaultDevice() {
    std::ifstream in(DefaultDeviceFile());
    std::string name;
    std::getline(in, name);
    return name;
}

bool WriteDefaultDevice(const std::string& name) {
    const std::string folder = ConfigFolder();
    if (folder.empty())
        return false;
    MakeFolders(folder);
    return WriteAtomically(DefaultDeviceFile(), name + "\n");
}

bool IsKeptOption(const std::string& name) {
    for (const char* kept : {"source", "mode", "depth", "tl-x", "tl-y", "br-x", "br-y"})
        if (name == kept)
            return true;
    return false;
}

SavedOptions ReadSavedOptions(const std::string& device) {
    SavedOptions options;
    std::ifstream in(OptionsFile(device));
    for (std::string line; std::getline(in, line);) {
        const std::size_t eq = line.find('=');
        if (eq != std::string::npos && IsKeptOption(line.substr(0, eq)))
            options.emplace_back(line.substr(0, eq), line.substr(eq + 1));
    }
    return options;
}

bool WriteSavedOptions(const std::string& device, const SavedOptions& options) {
    if (ConfigFolder().empty())
        return false;
    MakeFolders(ConfigFolder() + "/sane-options");
    std::string text;
    for (const auto& [name, value] : options)
        if (value.find('\n') == std::string::npos)
            text += name + "=" + value + "\n";
    return WriteAtomically(OptionsFile(device), text);
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
