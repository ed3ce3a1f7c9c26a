#include "platform/ModuleHandle.h"

namespace {
HINSTANCE instanceHandle = nullptr;
}

HINSTANCE moduleInstance() { return instanceHandle ? instanceHandle : GetModuleHandleA(nullptr); }
void setModuleInstance(HINSTANCE instance) { instanceHandle = instance; }
