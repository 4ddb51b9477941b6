#pragma once
// The source-selection dialog of MSG_USERSELECT. Manager-internal.

#include "dsm/VelmoraDsm.h"

#include <string>
#include <vector>

// Shows the sources with `current` preselected; the chosen index, or -1 when cancelled. Without
// a QApplication (a program that is not a Qt GUI) nothing can be shown: -1.
int RunSelectDialog(const std::vector<std::string>& names, int current);

void SetSelectDialogOverride(VelmoraDSM_SelectFn fn, void* context);
