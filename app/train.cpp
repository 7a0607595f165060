#include "app/train.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>

#include "app/datafile.h"
#include "game/board.h"
#include "nn/neural_net.h"

namespace {

constexpr const char* kStatLabels[kStatRows] = {"s0", "s1", "s2", "s3", "s4", "n0", "n1", "n2", "n3"};
constexpr int kRecordFields = 6 + 2 * kStatRows;
constexpr int kSquares = 64;

std::vector<std::string> split(const std::string& text, char sep) {
  std::vector<std::string> parts;
  std::string part;
  std::istringstream in(text);
  while (std::getline(in, part, sep)) parts.push_back(part);
  return parts;
}

bool starts_with(const std::string& s, const char* prefix) { return s.rfind(prefix, 0) == 0; }

// The whole of s as a decimal int.
bool parse_int(const std::string& s, int& v) {
  if (s.empty()) return false;
  char* end = nullptr;
  const long n = std::strtol(s.c_str(), &end, 10);
  if (*end != '\0' || n < -1000000 || n > 1000000) return false;
  v = static_cast<int>(n);
  return true;
}

bool parse_double(const std::string& s, double& v) {
  if (s.empty()) return false;
  char* end = nullptr;
  v = std::strtod(s.c_str(), &end);
  return *end == '\0';
}

// m:ss, or h:mm:ss from an hour on.
std::string clock_text(double seconds) {
  const long s = std::lround(std::max(0.0, seconds));
  char buf[32];
  if (s >= 3600)
    std::snprintf(buf, sizeof buf, "%ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
  else
    std::snprintf(buf, sizeof buf, "%ld:%02ld", s / 60, s % 60);
  return buf;
}

// The result line's verdict as the neural engine's disc difference.
bool parse_result_line(const std::string& line, int& result) {
  int n = 0;
  char tail = 0;
  if (line == "draw game...") {
    result = 0;
    return true;
  }
  for (const int sign : {1, -1}) {
    const char* format = sign > 0 ? "neuro win %d points%c" : "trady win %d points%c";
    if (std::sscanf(line.c_str(), format, &n, &tail) == 2 && tail == '.' && n > 0) {
      result = sign * n;
      return true;
    }
  }
  return false;
}

}  // namespace

double disc_share(const GameRow& row) {
  const int all = row.neuro_discs + row.trady_discs;
  return all > 0 ? static_cast<double>(row.neuro_discs) / all : 0.0;
}

std::string read_game_output(const std::string& out, const std::string& err, bool had_file, GameRow& row) {
  // Any error line is a failure, except that a first run finds no file.
  const std::string no_file = std::string("error: cannot read from file '") + kDataFileName + "'.";
  std::vector<std::string> results;
  for (const std::string& line : split(err, '\n')) {
    if ((starts_with(line, "error: ") || starts_with(line, "Error: ")) && (had_file || line != no_file))
      return "the program said \"" + line + "\"";
    const auto at = line.find("GAME OVER. ");
    if (at != std::string::npos) results.push_back(line.substr(at + std::strlen("GAME OVER. ")));
  }
  if (results.size() != 1) return "the game did not end with one result line";
  int result = 0;
  if (!parse_result_line(results[0], result)) return "unreadable result line \"" + results[0] + "\"";

  int stat_lines = 0;
  bool have_row[kStatRows] = {};
  for (const std::string& line : split(out, '\n')) {
    int neuro = 0, trady = 0;
    char tail = 0;
    if (starts_with(line, "neuro\t")) {
      ++stat_lines;
      if (std::sscanf(line.c_str(), "neuro\t%d\ttredy\t%d%c", &neuro, &trady, &tail) != 2)
        return "unreadable statistics line";
      row.neuro_discs = neuro;
      row.trady_discs = trady;
      continue;
    }
    const auto fields = split(line, '\t');
    for (int i = 0; i < kStatRows; ++i) {
      if (fields.size() == 5 && fields[0] == kStatLabels[i]) {
        if (!parse_double(fields[1], row.ave[i]) || !parse_double(fields[2], row.sd[i]))
          return std::string("unreadable row ") + kStatLabels[i] + " of the -dump tables";
        have_row[i] = true;
      }
    }
  }
  if (stat_lines != 1) return "the game did not print one statistics line";
  for (int i = 0; i < kStatRows; ++i)
    if (!have_row[i]) return std::string("no row ") + kStatLabels[i] + " in the -dump tables";
  if (row.neuro_discs < 0 || row.trady_discs < 0 || row.neuro_discs + row.trady_discs > kSquares)
    return "impossible disc counts in the statistics line";
  if (row.neuro_discs - row.trady_discs != result) {
    return "the result line \"" + results[0] + "\" disagrees with the statistics line (neuro " +
           std::to_string(row.neuro_discs) + ", trady " + std::to_string(row.trady_discs) + ")";
  }
  row.result = result;
  return "";
}

std::string params_fault(const NeuralNet& net) {
  const auto check = [](const float* values, int n, const char* what, int layer) -> std::string {
    for (int i = 0; i < n; ++i) {
      if (!std::isfinite(values[i])) {
        return std::string(what) + " " + std::to_string(i) + " of layer " + std::to_string(layer) +
               (std::isnan(values[i]) ? " is not a number" : " is infinite");
      }
    }
    return "";
  };
  for (int l = 0; l < kLayers; ++l) {
    std::string fault = check(net.bias[l], kSlots, "bias", l);
    if (!fault.empty()) return fault;
  }
  for (int l = 0; l < kLayers - 1; ++l) {
    std::string fault = check(&net.weight[l][0][0], kSlots * kSlots, "weight", l);
    if (!fault.empty()) return fault;
  }
  return "";
}

DataState inspect_data_file(const char* path, Board& board, NeuralNet& net) {
  DataState state;
  const DataFault fault = read_data_from(path, board, net);
  if (fault != DataFault::none) {
    state.fault = std::string(data_fault_text(fault)) + " '" + kDataFileName + "'";
    // The loader refuses such a file without saying which parameter it was.
    if (fault == DataFault::non_finite) state.fault += ": " + params_fault(net);
    return state;
  }
  state.computer_colour = board.computer_colour;
  state.ply = board.ply;
  return state;
}

std::string after_game_fault(const DataState& saved, int colour) {
  if (!saved.fault.empty()) return saved.fault;
  if (saved.ply != 0) return "the saved game is not a fresh one (ply " + std::to_string(saved.ply) + ")";
  if (saved.computer_colour != other_colour(colour)) {
    return "the colours did not alternate (the neural engine played colour " + std::to_string(colour) +
           " and is on colour " + std::to_string(saved.computer_colour) + " for the next game)";
  }
  return "";
}

std::string record_header() {
  std::string h = "game,neuro_colour,neuro_discs,trady_discs,result,seconds";
  for (const char* label : kStatLabels) h = h + "," + label + "_ave," + label + "_sd";
  return h + "\n";
}

std::string record_line(const GameRow& row) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%d,%d,%d,%d,%d,%.1f", row.game, row.neuro_colour, row.neuro_discs,
                row.trady_discs, row.result, row.seconds);
  std::string line = buf;
  for (int i = 0; i < kStatRows; ++i) {
    std::snprintf(buf, sizeof buf, ",%.2f,%.2f", row.ave[i], row.sd[i]);
    line += buf;
  }
  return line + "\n";
}

bool parse_record_line(const std::string& line, GameRow& row) {
  std::string text = line;
  if (!text.empty() && text.back() == '\r') text.pop_back();
  const auto f = split(text, ',');
  if (f.size() != kRecordFields) return false;
  GameRow r;
  if (!parse_int(f[0], r.game) || !parse_int(f[1], r.neuro_colour) || !parse_int(f[2], r.neuro_discs) ||
      !parse_int(f[3], r.trady_discs) || !parse_int(f[4], r.result) || !parse_double(f[5], r.seconds))
    return false;
  for (int i = 0; i < kStatRows; ++i)
    if (!parse_double(f[6 + 2 * i], r.ave[i]) || !parse_double(f[7 + 2 * i], r.sd[i])) return false;
  row = r;
  return true;
}

std::string progress_text(const std::vector<GameRow>& run, int total, double elapsed_s) {
  const int done = static_cast<int>(run.size());
  int won = 0, drawn = 0, lost = 0;
  for (const GameRow& g : run) (g.result > 0 ? won : g.result < 0 ? lost : drawn)++;
  std::string text =
      std::to_string(done) + "/" + std::to_string(total) + " games  " + clock_text(elapsed_s) + " elapsed  ";
  text += done > 0 ? clock_text(elapsed_s / done * (total - done)) + " left" : "? left";
  text += "  neuro W" + std::to_string(won) + " D" + std::to_string(drawn) + " L" + std::to_string(lost);
  const int last = std::min(done, kShareWindow);
  if (last > 0) {
    double sum = 0.0;
    for (int i = done - last; i < done; ++i) sum += disc_share(run[i]);
    char buf[48];
    std::snprintf(buf, sizeof buf, "  discs %.1f%% (last %d)", 100.0 * sum / last, last);
    text += buf;
  }
  return text;
}

std::string plot_script(const std::vector<GameRow>& rows, const std::string& png) {
  // The picture goes to png unless the variable picture names another file
  // (gnuplot -e "picture='...'").
  std::string s = "set terminal pngcairo size 1000,750 font ',10'\nif (!exists(\"picture\")) picture = '" +
                  png + "'\nset output picture\n$games << EOD\n";
  double window_sum = 0.0;
  char buf[128];
  for (std::size_t i = 0; i < rows.size(); ++i) {
    // The moving mean covers the game and the ones before it, up to the window.
    window_sum += disc_share(rows[i]);
    if (i >= static_cast<std::size_t>(kShareWindow)) window_sum -= disc_share(rows[i - kShareWindow]);
    const std::size_t n = std::min<std::size_t>(i + 1, kShareWindow);
    std::snprintf(buf, sizeof buf, "%d %.2f %.2f", rows[i].game, 100.0 * disc_share(rows[i]),
                  100.0 * window_sum / static_cast<double>(n));
    s += buf;
    for (int w = kBiasRows; w < kStatRows; ++w) {
      std::snprintf(buf, sizeof buf, " %.2f", rows[i].sd[w]);
      s += buf;
    }
    s += "\n";
  }
  s += "EOD\n"
       "set multiplot layout 2,1 title 'tavimor: the neural engine against the traditional engine, " +
       std::to_string(rows.size()) +
       " demo games'\n"
       "set grid\nset key inside left top opaque\nset lmargin 10\nset rmargin 4\nset xlabel 'game'\n"
       "set autoscale xfix\nset offsets graph 0.01, graph 0.01, 0, 0\n" +
       (rows.back().game - rows.front().game < kShareWindow ? "set xtics 1\n" : "") +
       "set ylabel \"neural engine's share of the discs (%)\"\nset yrange [0:100]\n"
       "plot $games using 1:2 with points pt 7 ps 0.6 lc rgb '#8080c0' title 'per game', \\\n"
       "     $games using 1:3 with lines lw 2 lc rgb '#c03030' title 'mean of the last " +
       std::to_string(kShareWindow) +
       "', \\\n"
       "     50 with lines dt 2 lc rgb 'gray' notitle\n"
       "set ylabel 'standard deviation of the weights'\nset yrange [0:*]\n"
       "set offsets graph 0.01, graph 0.01, graph 0.15, 0\n"
       "plot for [i=0:3] $games using 1:(column(4 + i)) with lines lw 2 title sprintf('weights n%d', i)\n"
       "unset multiplot\n";
  return s;
}
