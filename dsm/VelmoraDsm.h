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
}
