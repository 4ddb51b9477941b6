#pragma once
// Velmora's own additions to its TWAIN source manager, exported next to DSM_Entry. They use plain
// C types so that callers need no TWAIN header; TTwain and the tests find them with dlsym, and a
// foreign manager simply lacks them.

#include <cstddef>

extern "C" {

// Size in bytes of a live block of the manager's memory functions; 0 for anything else.
std::size_t VelmoraDSM_BlockSize(void* handle);
// Number of the manager's blocks still alive.
std::size_t VelmoraDSM_LiveBlocks();

// Replaces the source-selection dialog (nullptr restores the Qt dialog). The function gets the
// sources' product names and the index of the default source and returns the chosen index, or
// -1 when the user cancelled.
using VelmoraDSM_SelectFn = int (*)(void* context, const char* const* names, int count,
                                    int current);
void VelmoraDSM_SetSelectDialog(VelmoraDSM_SelectFn fn, void* context);

// A source that stands for several devices (the SANE bridge) may export, next to DS_Entry,
//   int VelmoraDS_ListDevices(VelmoraDS_DeviceFn fn, void* context);
//   int VelmoraDS_SetDefaultDevice(const char* name);
// so that the selection dialog lists every device. VelmoraDS_ListDevices calls fn once per
// device it finds, in order, flagging the one the source would open; it may take seconds and
// is called on a thread of its own (never the GUI thread). It returns the number of devices, or
// -1 when it could not look. VelmoraDS_SetDefaultDevice makes `name` the device the source opens
// from then on; 0 when that could not be remembered.
using VelmoraDS_DeviceFn = void (*)(void* context, const char* name, const char* label,
                                    int isDefault);
using VelmoraDS_ListDevicesFn = int (*)(VelmoraDS_DeviceFn fn, void* context);
using VelmoraDS_SetDefaultDeviceFn = int (*)(const char* name);
}
