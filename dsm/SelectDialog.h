#pragma once
// The source-selection dialog of MSG_USERSELECT. Manager-internal.
//
// A source that stands for several devices (dsm/VelmoraDsm.h: VelmoraDS_ListDevices) is shown
// as its devices, looked up on a worker thread: "Suche Scanner…" stands in their place while it
// looks, and "Aktualisieren" looks again.

#include "dsm/VelmoraDsm.h"

#include <string>
#include <vector>

struct SelectSource {
    std::string name;                              // the source's ProductName
    VelmoraDS_ListDevicesFn listDevices = nullptr; // null: a source of one device
};

struct FoundDevice {
    std::string name;
    std::string label;
    bool isDefault = false;
};

// The devices of a source, looked up on a thread of its own (the caller waits); `ok` false when
// the source could not look.
std::vector<FoundDevice> ListDevicesOnWorker(VelmoraDS_ListDevicesFn list, bool* ok);

struct SelectChoice {
    int source = -1;    // index into the sources; -1: cancelled
    std::string device; // the chosen device of a multi-device source; empty otherwise
};

// Shows the sources with `current` preselected (for a multi-device source, the device it would
// open). Without a QApplication (a program that is not a Qt GUI) nothing can be shown:
// cancelled.
SelectChoice RunSelectDialog(const std::vector<SelectSource>& sources, int current);

void SetSelectDialogOverride(VelmoraDSM_SelectFn fn, void* context);
