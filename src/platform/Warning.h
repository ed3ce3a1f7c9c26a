// The module's one message to the user.
#pragma once

// A task-modal, topmost exclamation box with no owner, captioned with the module
// file's name; returns the box's result.
int showWarning(const char* text);
