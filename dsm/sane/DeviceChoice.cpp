#include "dsm/sane/DeviceChoice.h"

#include <cctype>
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

bool EqualIgnoringCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

bool StartsWithWord(const std::string& text, const std::string& word) {
    return text.size() > word.size() && text[word.size()] == ' ' &&
           EqualIgnoringCase(text.substr(0, word.size()), word);
}

std::string Trimmed(const std::string& text) {
    const std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// The backend's name: what comes before the first colon of the device string.
std::string Backend(const std::string& name) {
    return name.substr(0, name.find(':'));
}

// Backends put the protocol or a placeholder where the maker belongs when they do not know it:
// sane-airscan "eSCL" or "WSD" for a device from its configuration file, the escl backend
// "ESCL", the test backend "Noname".
bool IsMaker(const std::string& vendor) {
    for (const char* word : {"", "escl", "wsd", "airscan", "noname", "unknown", "generic"})
        if (EqualIgnoringCase(vendor, word))
            return false;
    return true;
}

// Maker and model, the maker once also where the model repeats it ("HP" + "HP OfficeJet");
// the device string when the backend tells neither.
std::string PlainName(const Device& device) {
    const std::string vendor = Trimmed(device.vendor);
    const std::string model = Trimmed(device.model);
    const bool maker = IsMaker(vendor);
    std::string name;
    if (model.empty())
        name = maker ? vendor : std::string();
    else if (!maker || EqualIgnoringCase(model, vendor) || StartsWithWord(model, vendor))
        name = model;
    else
        name = vendor + " " + model;
    return name.empty() ? device.name : name;
}

bool Contains(const std::string& text, const char* part) {
    return text.find(part) != std::string::npos;
}

// How the device is reached, as far as SANE tells: the driverless backends, the SANE network
// daemon and addresses mean the network; libusb and USB paths mean USB. A driverless device on
// this machine's own loopback address is a USB device behind ipp-usb (or a local service), not
// one on the network: it gets no hint rather than a wrong one.
std::string Connection(const Device& device) {
    std::string lower = device.name + "\n" + device.type;
    for (char& c : lower)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const std::string backend = Backend(lower);
    if (backend == "net") // whatever the daemon's own device is attached by
        return "Netzwerk";
    if (Contains(lower, "libusb:") || Contains(lower, "/usb/") || Contains(lower, ":usb:"))
        return "USB";
    if (Contains(lower, "127.0.0.1") || Contains(lower, "localhost") || Contains(lower, "[::1]") ||
        Contains(lower, "ip=::1"))
        return {};
    if (backend == "airscan" || backend == "escl" || Contains(lower, "://") ||
        Contains(lower, ":net:") || Contains(lower, "/net/") || Contains(lower, ":tcp"))
        return "Netzwerk";
    return {};
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

std::vector<std::string> DeviceLabels(const std::vector<Device>& devices) {
    struct Parts {
        std::string base, connection;
    };
    std::vector<Parts> parts;
    for (const Device& d : devices)
        parts.push_back({PlainName(d), Connection(d)});
    auto label = [&](std::size_t i, const std::string& extra) {
        std::string hint = parts[i].connection;
        if (!extra.empty())
            hint += (hint.empty() ? "" : ", ") + extra;
        return hint.empty() ? parts[i].base : parts[i].base + " (" + hint + ")";
    };
    auto clashing = [&](const std::vector<std::string>& labels) {
        std::vector<bool> clash(labels.size(), false);
        for (std::size_t i = 0; i < labels.size(); ++i)
            for (std::size_t j = i + 1; j < labels.size(); ++j)
                if (EqualIgnoringCase(labels[i], labels[j]))
                    clash[i] = clash[j] = true;
        return clash;
    };

    std::vector<std::string> labels;
    for (std::size_t i = 0; i < devices.size(); ++i)
        labels.push_back(label(i, {}));
    // First the backend, which is enough for one device reached in two ways; then the device
    // string, which SANE keeps unique, for two devices of one model on one backend.
    const std::vector<bool> first = clashing(labels);
    for (std::size_t i = 0; i < devices.size(); ++i)
        if (first[i])
            labels[i] = label(i, Backend(devices[i].name));
    const std::vector<bool> second = clashing(labels);
    for (std::size_t i = 0; i < devices.size(); ++i)
        if (second[i] && parts[i].base != devices[i].name)
            labels[i] = label(i, devices[i].name);
    return labels;
}

std::string DeviceLabel(const Device& device) {
    return DeviceLabels({device}).front();
}

} // namespace sanebridge
