#pragma once
// The data sources the manager offers: plugins found in its source folders, and the default
// source remembered in the user's configuration folder. Manager-internal.

#include "dsm/VelmoraDsm.h"
#include "twain/twainh.h"

#include <string>
#include <vector>

struct DataSource {
    std::string path;
    DSENTRYPROC entry = nullptr;
    TW_IDENTITY identity{}; // as the source describes itself; the manager sets Id
    // A source of several devices lists them and remembers the chosen one (dsm/VelmoraDsm.h);
    // both null for a source of one device.
    VelmoraDS_ListDevicesFn listDevices = nullptr;
    VelmoraDS_SetDefaultDeviceFn setDefaultDevice = nullptr;
    // A source whose devices have buttons watches them (both or neither).
    VelmoraDS_WatchButtonsFn watchButtons = nullptr;
    VelmoraDS_StopButtonsFn stopButtons = nullptr;
};

// Loads (once per process) every source of the source folders and asks each for its identity,
// in file-name order. Sources that cannot be loaded or do not describe themselves are left out.
std::vector<DataSource> ListSources(pTW_IDENTITY app);

// Ends the button watch of every source loaded so far.
void StopButtonWatches();

// The ProductName of the remembered default source; empty when none is remembered.
std::string ReadDefaultSource();
// Remembers `productName` as the default source; false when it could not be written.
bool WriteDefaultSource(const std::string& productName);
