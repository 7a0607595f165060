// The network's reports on standard output: the -dump statistics tables and
// the -nnc CSV stream.
#include "nn/diag.h"

#include <charconv>
#include <cmath>
#include <iomanip>
#include <iostream>
#include <limits>
#include <string>

#include "nn/network.h"

namespace {

// A number as the default stream format writes it (printf's %g).
void append_general(std::string& out, float v) {
  char buf[32];
  const auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::general, 6);
  out.append(buf, r.ptr);
}

void print_table(const char* label, const float* values, int rows, int count) {
  std::cout << "\tave\tsd\tmin\tmax\n";
  for (int i = 0; i < rows; ++i) {
    const Stats s = net_stats(values + static_cast<long>(i) * count, count);
    std::cout << label << i << '\t' << s.ave << '\t' << s.sd << '\t' << s.min << '\t' << s.max << '\n';
  }
}

}  // namespace

Stats net_stats(const float* values, int n) {
  if (n <= 0) return {0.0f, 0.0f, 0.0f, 0.0f};
  float min = std::numeric_limits<float>::infinity();
  float max = -std::numeric_limits<float>::infinity();
  float sum = 0.0f, squares = 0.0f;
  for (int i = 0; i < n; ++i) {
    const float v = values[i];
    if (v < min) min = v;
    if (!(max >= v)) max = v;  // a non-number takes the maximum
    sum = sum + v;
    squares = squares + v * v;
  }
  const float r = 1.0f / static_cast<float>(n);
  const float ave = r * sum;
  // Rounding can take the variance of equal values a little below 0; it is 0.
  float variance = r * squares - ave * ave;
  if (variance < 0.0f) variance = 0.0f;
  return {ave, std::sqrt(variance), min, max};
}

void net_dump_params(const NeuralNet& net) {
  std::cout << std::fixed << std::setprecision(2);
  print_table("s", &net.bias[0][0], kLayers, kSlots);
  print_table("n", &net.weight[0][0][0], kLayers - 1, kSlots * kSlots);
  std::cout.flush();
}

void net_dump_scratch(const NeuralNet& net) {
  std::cout << std::fixed << std::setprecision(3);
  print_table("d", &net.act[0][0], kLayers, kSlots);
  print_table("b", &net.delta[0][0], kLayers, kSlots);
  std::cout.flush();
}

void net_print_csv_header() {
  std::string line;
  for (int i = 0; i < kSlots; ++i) line += "x__" + std::to_string(i) + ":d" + std::to_string(i) + ",";
  for (int i = 0; i < kSlots; ++i)
    line += "y__" + std::to_string(i) + ":b" + std::to_string(i) + (i < kSlots - 1 ? "," : "\n");
  std::cout << line;
}

void net_print_csv_sample(const float* inputs, const float* targets) {
  std::string line;
  line.reserve(8 * kSlots);
  for (int i = 0; i < kSlots; ++i) {
    append_general(line, inputs[i]);
    line += ',';
  }
  for (int i = 0; i < kSlots; ++i) {
    append_general(line, targets[i]);
    line += i < kSlots - 1 ? ',' : '\n';
  }
  std::cout << line;
}
