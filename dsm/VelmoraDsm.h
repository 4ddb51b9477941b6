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

// The scanner's own buttons. A source whose devices have buttons (the SANE bridge) may export,
// next to DS_Entry,
//   void VelmoraDS_WatchButtons(VelmoraDS_ButtonFn fn, void* context);
//   void VelmoraDS_StopButtons();
// VelmoraDS_WatchButtons returns at once; on a thread of its own the source then opens the
// device it would open for an acquisition and polls its buttons (SANE options with
// SANE_CAP_HARD_SELECT) every 100 to 250 ms. fn is called on that thread: once with
// VelmoraDS_ButtonWatching (detail: the device) or VelmoraDS_ButtonNone (the device has no button
// the watch knows; it is closed again) or VelmoraDS_ButtonNoDevice (no device, or it could not be
// opened; detail: the reason in German), then with VelmoraDS_ButtonPressed (detail: the button's
// option name) each time the copy or scan button goes from released to pressed. A second call
// replaces the first watch. VelmoraDS_StopButtons ends the watch and returns once the device is
// closed and fn is not called any more (at once when no watch runs). Opening the source
// (MSG_OPENDS) ends a watch first.
enum VelmoraDS_ButtonEvent {
    VelmoraDS_ButtonWatching = 0,
    VelmoraDS_ButtonNone = 1,
    VelmoraDS_ButtonNoDevice = 2,
    VelmoraDS_ButtonPressed = 3,
};
using VelmoraDS_ButtonFn = void (*)(void* context, int event, const char* detail);
using VelmoraDS_WatchButtonsFn = void (*)(VelmoraDS_ButtonFn fn, void* context);
using VelmoraDS_StopButtonsFn = void (*)();

// The manager passes them on to its default source: VelmoraDSM_WatchButtons returns 0 when that
// source has no button watch (fn is never called), 1 when the watch was started.
int VelmoraDSM_WatchButtons(VelmoraDS_ButtonFn fn, void* context);
void VelmoraDSM_StopButtons();
}
