// MinGW's layout table, for the i386 tree's tarn-validate on tarn.dll: the Windows tree builds
// this into an object that nothing links, and turns its .tarnlay section into a header.
#include "tools/validate/module_layout.h"

__attribute__((section(".tarnlay"), used)) const ModuleLayout tarnModuleLayout = THIS_BUILDS_LAYOUT;
