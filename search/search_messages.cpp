// The searches' error lines, a few of each in a run: a game that met one at
// every node of a search would otherwise fill the disk with them.
#include <atomic>
#include <cstdio>

#include "search/search.h"

namespace {

constexpr const char* kTexts[] = {"Error: unknown loop in deep...", "Error: unknown loop in final..."};
std::atomic<int> printed[2];  // times each line was met in this run, a little past the limit at most

}  // namespace

void search_message(SearchMessage m) {
  const int i = static_cast<int>(m);
  // Once silent, not even counted: the count never wraps, and no lock is taken.
  if (printed[i].load(std::memory_order_relaxed) > kSearchMessageLimit) return;
    // The lines in the order they were counted.
#pragma omp critical(search_message)
  {
    const int n = printed[i]++;
    if (n < kSearchMessageLimit) {
      std::fprintf(stderr, "%s\n", kTexts[i]);
    } else if (n == kSearchMessageLimit) {
      std::fprintf(stderr, "note: the line \"%s\" is not shown again in this run.\n", kTexts[i]);
    }
  }
}

void search_messages_reset() {
  for (auto& n : printed) n.store(0);
}
