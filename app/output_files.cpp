#include "app/output_files.h"

#include "app/platform.h"

std::string temporary_name(const char* name) {
  return std::string(name) + "." + std::to_string(process_number()) + ".tmp";
}

std::FILE* create_fresh(const std::string& path) {
  bool exists = false;
  std::FILE* f = create_new_file(path.c_str(), exists);
  if (f == nullptr && exists && std::remove(path.c_str()) == 0) f = create_new_file(path.c_str(), exists);
  return f;
}

bool write_anew(const char* name, const std::string& text, bool durable) {
  const std::string temporary = temporary_name(name);
  std::FILE* f = create_fresh(temporary);
  if (f == nullptr) return false;
  bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size() && (!durable || sync_file(f));
  ok = std::fclose(f) == 0 && ok && replace_file(temporary.c_str(), name);
  if (!ok) std::remove(temporary.c_str());
  return ok;
}

bool draw_with_gnuplot(const char* plot, const char* picture) {
  const std::string made = temporary_name(picture);
  std::FILE* f = create_fresh(made);
  if (f == nullptr || std::fclose(f) != 0) return false;
  const ProgramEnd s = run_program({"gnuplot", "-e", "picture='" + made + "'", plot}, nullptr, nullptr);
  if (!s.started || s.code != 0 || s.signal != 0 || !replace_file(made.c_str(), picture)) {
    std::remove(made.c_str());
    return false;
  }
  return true;
}
