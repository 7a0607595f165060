#include "ui/game_record.h"

#include <cctype>
#include <cstring>

namespace {

constexpr int kBoardSize = 8;

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

bool add_move(GameRecord& r, int colour, int row, int col, std::string& error) {
  if (r.count >= kMaxRecordMoves) {
    error = "more than " + std::to_string(kMaxRecordMoves) + " moves";
    return false;
  }
  r.moves[r.count++] = RecordMove{colour, row, col};
  return true;
}

// BO[8 ...]: the size, then 64 squares row by row (a1..h1, a2..h2, ...) and
// the side to move, blanks anywhere between them.
bool parse_board(const std::string& value, GameRecord& r, std::string& error) {
  std::size_t i = 0;
  while (i < value.size() && is_blank(value[i])) ++i;
  std::size_t size_end = i;
  while (size_end < value.size() && !is_blank(value[size_end])) ++size_end;
  if (value.compare(i, size_end - i, std::to_string(kBoardSize)) != 0) {
    error = "the board is not 8 x 8";
    return false;
  }
  std::string cells;
  for (std::size_t k = size_end; k < value.size(); ++k)
    if (!is_blank(value[k])) cells.push_back(value[k]);
  if (cells.size() != 65) {
    error = "the board needs 64 squares and the side to move";
    return false;
  }
  for (int k = 0; k < 64; ++k) {
    const char c = cells[static_cast<std::size_t>(k)];
    if (c != '-' && c != '*' && c != 'O') {
      error = std::string("unknown square '") + c + "' on the board";
      return false;
    }
    // Text order: digit (column) major, letter (row) minor.
    r.stones[square_of(k % 8 + 1, k / 8 + 1)] = c == '*' ? 1 : c == 'O' ? 2 : 0;
  }
  if (cells[64] != '*' && cells[64] != 'O') {
    error = "the side to move is neither * nor O";
    return false;
  }
  r.side = cells[64] == '*' ? 1 : 2;
  return true;
}

// B[..] or W[..]: a square or PA, then optionally /eval/time.
bool parse_record_move(const std::string& value, int colour, GameRecord& r, std::string& error) {
  std::size_t i = 0;
  while (i < value.size() && is_blank(value[i])) ++i;
  std::size_t end = value.find('/', i);
  if (end == std::string::npos) end = value.size();
  while (end > i && is_blank(value[end - 1])) --end;
  int row = 0, col = 0;
  if (end - i != 2 || !parse_square(value.c_str() + i, row, col)) {
    error = "bad move '" + value + "'";
    return false;
  }
  return add_move(r, colour, row, col, error);
}

}  // namespace

GameRecord standard_record() {
  GameRecord r{};
  r.stones[square_of(4, 4)] = 2;
  r.stones[square_of(5, 5)] = 2;
  r.stones[square_of(4, 5)] = 1;
  r.stones[square_of(5, 4)] = 1;
  r.side = 1;
  return r;
}

bool parse_square(const char* text, int& row, int& col) {
  const char a = static_cast<char>(std::tolower(static_cast<unsigned char>(text[0])));
  if (a == '\0') return false;
  const char b = static_cast<char>(std::tolower(static_cast<unsigned char>(text[1])));
  if (a == 'p' && b == 'a') {
    row = col = 0;
    return true;
  }
  if (a < 'a' || a > 'h' || b < '1' || b > '8') return false;
  row = a - 'a' + 1;
  col = b - '0';
  return true;
}

std::string square_name(int row, int col, bool upper) {
  if (row == 0) return upper ? "PA" : "pa";
  return std::string{static_cast<char>((upper ? 'A' : 'a') + row - 1), static_cast<char>('0' + col)};
}

bool parse_ggf(const std::string& text, GameRecord& record, std::string& error) {
  GameRecord r = standard_record();
  std::size_t i = text.find("(;");
  if (i == std::string::npos) {
    error = "no game: \"(;\" is missing";
    return false;
  }
  i += 2;
  for (;;) {
    while (i < text.size() && is_blank(text[i])) ++i;
    if (text.compare(i, 2, ";)") == 0) break;
    if (i >= text.size()) {
      error = "the game does not end with \";)\"";
      return false;
    }
    std::size_t name_end = i;
    while (name_end < text.size() && std::isupper(static_cast<unsigned char>(text[name_end]))) ++name_end;
    if (name_end == i || name_end >= text.size() || text[name_end] != '[') {
      error = "a property name and '[' were expected at character " + std::to_string(i + 1);
      return false;
    }
    const std::size_t close = text.find(']', name_end + 1);
    if (close == std::string::npos) {
      error = "a property value has no ']'";
      return false;
    }
    const std::string name = text.substr(i, name_end - i);
    const std::string value = text.substr(name_end + 1, close - name_end - 1);
    i = close + 1;
    if (name == "GM" && lower(value) != "othello") {
      error = "the game is " + value + ", not Othello";
      return false;
    }
    if (name == "BO" && !parse_board(value, r, error)) return false;
    if ((name == "B" || name == "W") && !parse_record_move(value, name == "B" ? 1 : 2, r, error))
      return false;
  }
  record = r;
  return true;
}

bool parse_move_list(const std::string& text, GameRecord& record, std::string& error) {
  GameRecord r = standard_record();
  for (std::size_t i = 0; i < text.size();) {
    if (is_blank(text[i]) || text[i] == '-') {
      ++i;
      continue;
    }
    int row = 0, col = 0;
    if (i + 1 >= text.size() || !parse_square(text.c_str() + i, row, col)) {
      error = "bad move '" + text.substr(i, 2) + "' at character " + std::to_string(i + 1);
      return false;
    }
    if (!add_move(r, 0, row, col, error)) return false;
    i += 2;
  }
  record = r;
  return true;
}

bool start_record(Board& b, const GameRecord& record) { return new_game_from(b, record.stones, record.side); }

bool replay_move(Board& b, const RecordMove& m) {
  if (check_end(b) != 0) return false;  // the game is over
  if (m.row == 0) {
    // The pass the rules just made, in the name of the side that had no move.
    return b.pass_flag != 0 && (m.colour == 0 || m.colour == other_colour(b.side));
  }
  if (m.colour != 0 && m.colour != b.side) return false;
  return play(b, m.row, m.col) != 0;
}
