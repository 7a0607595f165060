// The data file: the game record, the network's parameters and one XOR
// checksum byte, 4,228,985 bytes in all.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "app/platform.h"

struct Board;
struct NeuralNet;

inline constexpr const char* kDataFileName = "tavimor.dat";
inline constexpr std::size_t kBoardBytes = 24440;
inline constexpr std::size_t kDataFileBytes = 4228985;

// XOR of every byte of the board record and then the parameter block.
uint8_t data_checksum(const Board& board, const NeuralNet& net);

// Why a data file does not load.
enum class DataFault {
  none,
  missing,     // nothing of that name
  unreadable,  // a file that cannot be opened for reading
  not_a_file,  // a folder, a pipe, a device...: never opened
  checksum,    // short, or its checksum byte is wrong
  impossible,  // the checksum holds, the game record is impossible
  non_finite,  // the checksum holds, a parameter is a non-number or an infinity
};

// The words of the error line for fault, before the file's name
// ("checksum error in"); empty for none.
const char* data_fault_text(DataFault fault);

// Reads path straight into board and the parameter block of net and says
// whether it would load, printing nothing and deriving nothing (a short file
// leaves the rest of each object as it was). Never blocks, whatever path
// names; never writes, so it needs no lock.
DataFault read_data_from(const char* path, Board& board, NeuralNet& net);
// The same from an open stream.
DataFault read_data(std::FILE* f, Board& board, NeuralNet& net);

// Loads path into board and net as read_data_from reads it, printing what
// happened; on success the current plane's marks and the network's
// transposed weights are recomputed.
DataFault load_data_file(const char* path, Board& board, NeuralNet& net);
// The same from an open stream; name is the file's name in the messages.
DataFault load_data_stream(std::FILE* f, const char* name, Board& board, NeuralNet& net);
// True when load_data_file loads.
bool load_data_from(const char* path, Board& board, NeuralNet& net);

// Writes board and the parameter block of net to path. The bytes go to a
// temporary file of a name no other process uses, created new (never through
// a link), synced and then renamed over path; the folder is synced after. On
// failure path is left as it was. Parameters that are not all finite numbers
// are not written.
bool save_data_to(const char* path, const Board& board, const NeuralNet& net);
// The temporary file of the save's attempt-th try (0, 1, ...) in this process.
std::string data_temp_path(const char* path, int attempt);

// The two above on the global board and network and "tavimor.dat". A
// network that learning has made non-finite is renewed first (renew_network),
// so that the game and the settings are saved all the same.
bool load_data();
bool save_data();

// Gives net fresh random parameters in place of ones that cannot be saved,
// and moves the file at path, whose network led to them, aside as keep_aside
// does (a save then replaces it where that fails); notes on standard error
// say so.
void renew_network(const char* path, NeuralNet& net);

// Takes the lock that keeps other runs off the data file at path (a file
// path + ".lock" beside it, and its folder) for the rest of the process;
// kind tells what was found at the lock file's name when it is not a file.
LockResult lock_data_file(const char* path, PathKind& kind);

// Takes that lock for a run that will load and save the data file at path,
// and removes what saves of earlier runs left; prints the error line and
// returns false when the run must stop (in use, or no lock to be had but in
// a read-only folder, where a note says runs are not kept apart).
bool take_data_file_lock(const char* path);

// Removes the temporary files that saves of earlier runs left beside path
// (data_temp_path's names, regular files only), with a note for each; the
// count removed. Call it only under the lock.
int remove_stale_temp_files(const char* path);

// Moves a data file that failed to load out of the way, to the first free
// name of path.bad, path.bad2, path.bad3...; kept_as receives it. False when
// it could not be moved (then it is still at path).
bool keep_aside(const char* path, std::string& kept_as);

// True when every field of the record lies in its range (sides, ply,
// settings, stones, frame cells, the movers recorded below ply) and the game
// replays by the rules up to ply (record_replays).
bool board_is_possible(const Board& board);

// True when no bias or weight is a non-number or an infinity.
bool params_are_finite(const NeuralNet& net);
