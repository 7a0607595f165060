// The stand-in for the CUDA driver library: the twelve entry points the
// program uses, built as a shared library named like the real one
// (libcuda.so.1), with device memory on the host and the PTX interpreter
// running the module. One device, "PTX interpreter".
//
// For the tests it logs every call, one line each, naming device arrays by
// the order of their allocation ("a0", "a0+400"), and it can be told to fail
// one call. A program run in a child process takes the same settings from
// its environment:
//   STANDIN_CUDA_LOG=path      append the log to path as the calls happen
//   STANDIN_CUDA_FAIL=call:n   the n-th call of `call` fails (code 999)
//   STANDIN_CUDA_DEVICES=n     the number of devices (1)
#pragma once

#include <string>
#include <vector>

// The device's name.
inline constexpr const char* kStandinDeviceName = "PTX interpreter";
// The code of a failure asked for.
inline constexpr int kStandinFailure = 999;

// Clears the log, the failure asked for and the launch count (which picks
// each launch's thread order).
void standin_reset();
// The n-th call of `call` from now (1 = the next one) answers kStandinFailure.
void standin_fail(const char* call, int nth);
// The calls since the last reset.
std::vector<std::string> standin_log();
// 0: the approximate square root and division correctly rounded; +1 or -1:
// one step up or down wherever their documented error allows.
void standin_approx_step(int step);
// Device arrays allocated and not yet freed.
int standin_live_arrays();
