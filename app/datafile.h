// The data file: the game record, the network's parameters and one XOR
// checksum byte, 4,228,985 bytes in all.
#pragma once

#include <cstddef>
#include <cstdint>

struct Board;
struct NeuralNet;

inline constexpr const char* kDataFileName = "tavimor.dat";
inline constexpr std::size_t kBoardBytes = 24440;
inline constexpr std::size_t kDataFileBytes = 4228985;

// XOR of every byte of the board record and then the parameter block.
uint8_t data_checksum(const Board& board, const NeuralNet& net);

// Why a data file does not load: it cannot be opened, it is short or its
// checksum byte is wrong, or its checksum holds but its game record is
// impossible.
enum class DataFault { none, unreadable, checksum, impossible };

// The words of the error line for fault, before the file's name
// ("checksum error in"); empty for none.
const char* data_fault_text(DataFault fault);

// Reads path straight into board and the parameter block of net and says
// whether it would load, printing nothing and deriving nothing (a short file
// leaves the rest of each object as it was).
DataFault read_data_from(const char* path, Board& board, NeuralNet& net);

// Reads path straight into board and the parameter block of net; true on
// success (then the current plane's marks and the network's transposed
// weights are recomputed). A file whose checksum holds but whose board is
// impossible is refused.
bool load_data_from(const char* path, Board& board, NeuralNet& net);

// Writes board and the parameter block of net to path. The bytes go to a
// temporary file beside it that replaces path only once all are written and
// flushed; on failure path is left as it was.
bool save_data_to(const char* path, const Board& board, const NeuralNet& net);

// The two above on the global board and network and "tavimor.dat".
bool load_data();
bool save_data();

// True when every field of the record lies in its range (sides, ply,
// settings, stones, frame cells, the movers recorded below ply).
bool board_is_possible(const Board& board);
