// The transposition table of the fast deep and endgame searches. Their
// values depend only on the position (the stones of the side to move and of
// the other side) and, for the deep search, on the depth at which it is
// reached; a bound found once therefore holds wherever the position recurs,
// in any root move's tree and in any later search.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

struct TableEntry {
  uint64_t mover;  // stones of the side to move; 0 in an empty entry
  uint64_t other;  // stones of the other side
  int32_t lower;   // the value is at least this
  int32_t upper;   // and at most this
  int8_t kind;     // the depth for the deep search, kFinalKind for the endgame
  int8_t best;     // the reply that was best or cut off, -1 when none
};

inline constexpr int8_t kFinalKind = 100;

// Beyond every value of the deep and the endgame search (they stay within a
// few thousand): the open edges of a window, and the bounds of a new entry.
inline constexpr int kDeepInfinity = 1 << 20;

// The table and the node counter of one thread: each thread of a root loop
// searches with its own. The 4096 entries (128 KB) are made once the thread
// has played kTableAfter moves: small searches go without.
struct SearchTables {
  static constexpr int kBits = 12;
  static constexpr uint64_t kTableAfter = 1024;
  std::unique_ptr<TableEntry[]> entries;
  uint64_t nodes = 0;                      // moves played by the fast searches that used the table
  const std::atomic<int>* stop = nullptr;  // the engine call's stop (SearchContext.stop)
};

inline std::unique_ptr<SearchTables> make_search_tables(const std::atomic<int>* stop = nullptr) {
  auto t = std::make_unique<SearchTables>();
  t->stop = stop;
  return t;
}

// The entry that (mover, other, kind) would occupy; null while there is no table.
inline TableEntry* table_slot(SearchTables& t, uint64_t mover, uint64_t other, int kind) {
  if (t.entries == nullptr) {
    if (t.nodes < SearchTables::kTableAfter) return nullptr;
    t.entries = std::make_unique<TableEntry[]>(std::size_t{1} << SearchTables::kBits);  // all empty
  }
  uint64_t h = mover * 0x9e3779b97f4a7c15ull ^ (other + static_cast<uint64_t>(kind)) * 0xc2b2ae3d27d4eb4full;
  h ^= h >> 29;
  return &t.entries[h >> (64 - SearchTables::kBits)];
}

// What slot knows of (mover, other, kind): true, with the node's value, when
// a stored bound settles it in the window (alpha, beta); otherwise the
// window narrowed by the stored bounds (a result at a narrowed edge is then
// exact) and the stored best reply in first. A null slot knows nothing.
inline bool table_probe(const TableEntry* slot, uint64_t mover, uint64_t other, int kind, int& alpha,
                        int& beta, int& first, int& value) {
  if (slot == nullptr || slot->mover != mover || slot->other != other || slot->kind != kind) return false;
  if (slot->lower >= beta) {
    value = slot->lower;
  } else if (slot->upper <= alpha) {
    value = slot->upper;
  } else if (slot->lower == slot->upper) {
    value = slot->lower;
  } else {
    if (slot->lower > alpha) alpha = slot->lower;
    if (slot->upper < beta) beta = slot->upper;
    first = slot->best;
    return false;
  }
  return true;
}

// Keeps in slot (unless null) what a search of (mover, other, kind) in the
// window (alpha, beta) found: value, a bound or exact, and its best reply.
inline void table_store(TableEntry* slot, uint64_t mover, uint64_t other, int kind, int alpha, int beta,
                        int value, int best) {
  if (slot == nullptr) return;
  if (slot->mover != mover || slot->other != other || slot->kind != kind)
    *slot = TableEntry{mover, other, -kDeepInfinity, kDeepInfinity, static_cast<int8_t>(kind), -1};
  if (value > alpha && slot->lower < value) slot->lower = value;
  if (value < beta && slot->upper > value) slot->upper = value;
  slot->best = static_cast<int8_t>(best);
}
