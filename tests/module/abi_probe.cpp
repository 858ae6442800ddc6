// Compiled for the Windows x64 ABI only, to dump the interface's vtable layout.
#include "module/TarvoVideoFilter2.h"

void DestroyThroughInterface(ICUDAKernelFuncSet_TarvoVideoFilter2* p) { delete p; }
int CallThroughInterface(ICUDAKernelFuncSet_TarvoVideoFilter2* p) { return p->GetLastStatus(); }
