#pragma once
// Velmora's additions to the SANE bridge source, exported next to DS_Entry in plain C types.

extern "C" {

// Replaces the bridge's message boxes (German texts the user must act on: feeder empty, paper
// jam, ...) in tests; nullptr restores the boxes.
using VelmoraSane_MessageFn = void (*)(void* context, const char* utf8Text);
void VelmoraSane_SetMessageHook(VelmoraSane_MessageFn fn, void* context);
}
