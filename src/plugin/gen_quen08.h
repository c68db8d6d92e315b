#pragma once
// The export the player looks for in gen_quen08.dll.

#include "player/host_interface.h"

#ifdef _WIN32
#define QF_EXPORT __declspec(dllexport)
#else
#define QF_EXPORT __attribute__((visibility("default")))
#endif

extern "C" QF_EXPORT qf::host::winampGeneralPurposePlugin* winampGetGeneralPurposePlugin();
