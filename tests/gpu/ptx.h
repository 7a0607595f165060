// A small PTX interpreter, enough for the network's GPU module: registers and
// predicates, kernel parameters, global, shared and constant memory, branches
// with the threads of a block diverging and meeting again at barriers, thread
// and block indices, 32-bit integer and single- and double-precision
// arithmetic with fused multiply-add rounded once and flush-to-zero, and the
// approximate square root and full-range division within their documented
// error. Anything else fails at load time, naming the line.
//
// A module is parsed and decoded once (ptx_load); a launch then runs every
// block, the threads of a block one after another from one barrier to the
// next, in an order that varies between launches, so that a missing barrier
// shows as a difference.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// Device memory as a launch sees it: global addresses base .. base + bytes
// are host bytes host ...
struct PtxRegion {
  uint64_t base;
  uint64_t bytes;
  unsigned char* host;
};

// The order in which the threads of a block run between two barriers.
enum class PtxOrder { forward, reverse, shuffled };

struct PtxOptions {
  PtxOrder order = PtxOrder::forward;
  uint32_t seed = 0;  // of the shuffled order
  // 0: sqrt.approx and div.full correctly rounded; +1 or -1: one step up or
  // down from that wherever the documented error bound still holds.
  int approx_step = 0;
};

struct PtxModule;
struct PtxModuleDeleter {
  void operator()(PtxModule* m) const;
};
using PtxModulePtr = std::unique_ptr<PtxModule, PtxModuleDeleter>;

// Parses and decodes text; null, with the reason in error, when the module
// holds anything the interpreter does not know.
PtxModulePtr ptx_load(const char* text, std::string& error);
// The index of the kernel called name, or -1.
int ptx_kernel(const PtxModule& m, const char* name);
int ptx_param_count(const PtxModule& m, int kernel);
// The 32-bit words of a constant variable (empty when there is none).
std::vector<uint32_t> ptx_const_words(const PtxModule& m, const char* name);
// Runs kernel over a grid of grid_x by grid_y blocks of block_x threads with
// the given parameter values. Returns an empty string, or what went wrong
// (an access outside memory, a thread leaving while others wait at a
// barrier).
std::string ptx_launch(const PtxModule& m, int kernel, unsigned grid_x, unsigned grid_y, unsigned block_x,
                       const uint64_t* params, const std::vector<PtxRegion>& memory,
                       const PtxOptions& options);
