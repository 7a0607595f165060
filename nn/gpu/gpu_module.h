// The GPU module: the PTX text of nn/gpu/network.ptx with the activation
// tables put in, built into the program as one NUL-terminated string
// (generated at build time by scripts/embed_ptx.py).
#pragma once

extern const char gpu_module_text[];
