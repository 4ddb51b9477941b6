#pragma once
// Which SANE device the bridge opens: the one the user chose in the source list, remembered in
// the user's configuration folder, or the first device found when that one is not there
// (unplugged, or never chosen).

#include "dsm/sane/SaneTypes.h"

#include <string>
#include <utility>
#include <vector>

namespace sanebridge {

// $XDG_CONFIG_HOME/velmora/sane-default-device (default ~/.config).
std::string DefaultDeviceFile();
std::string ReadDefaultDevice();
bool WriteDefaultDevice(const std::string& name);

// Index into `devices` of the device to open: `wanted` when present, else 0; -1 without devices.
int ChooseDevice(const std::vector<Device>& devices, const std::string& wanted);

// The scan settings the user last chose in the scanner dialog for a device (source, mode, depth,
// scan area), kept in $XDG_CONFIG_HOME/velmora/sane-options/<device>, so that a fast copy
// scans the way the dialog was left. Pairs of option name and value as text.
using SavedOptions = std::vector<std::pair<std::string, std::string>>;
SavedOptions ReadSavedOptions(const std::string& device);
bool WriteSavedOptions(const std::string& device, const SavedOptions& options);
// Which options are kept.
bool IsKeptOption(const std::string& name);

// How the devices are shown in the source list, one label for each, in order: maker and model as
// a person knows the device, with how it is connected where the device string tells
// ("HP OfficeJet 8010 (Netzwerk)", "EPSON Perfection V39 (USB)"). Devices that would read the
// same (two of one model, one device reached through two backends) are told apart by their
// backend, or by their device string where that is not enough; a device without maker and model
// is shown by its device string. The labels are for people only: devices are opened and
// remembered by their device string.
std::vector<std::string> DeviceLabels(const std::vector<Device>& devices);
// The label of a device on its own (the scanner dialog's title).
std::string DeviceLabel(const Device& device);

} // namespace sanebridge
