// The merge on an arbitrary setup script and an arbitrary difference file.
// Input: the script, "\n%%\n", the difference file.
#include <set>
#include <string>
#include <string_view>

#include "fuzz_util.h"
#include "script/merge.h"

namespace {

// The option-block rewrite in place: only the byte before the first '[' (the marker position)
// and, for the equals shift, the byte before that may change, and only in these ways.
bool is_marker_rewrite(std::string_view in, std::string_view out) {
  if (in.size() != out.size()) return false;
  std::size_t b = in.find('[');
  if (b == std::string_view::npos) return in == out;
  for (std::size_t i = 0; i < in.size(); ++i) {
    if (i + 1 != b && i + 2 != b && in[i] != out[i]) return false;
  }
  if (b >= 1 && out[b - 1] != in[b - 1]) {
    if (out[b - 1] == ' ' && in[b - 1] != '*') return false;
    if (out[b - 1] != ' ' && out[b - 1] != '*') return false;
  }
  if (b >= 2 && out[b - 2] != in[b - 2]) {
    if (in[b - 2] != ' ' && in[b - 2] != '\t') return false;
    if (out[b - 2] != '=' || in[b - 1] != '=' || out[b - 1] != '*') return false;
  }
  return true;
}

bool all_hex(std::string_view s) {
  return !s.empty() && s.find_first_not_of("0123456789ABCDEFabcdef") == std::string_view::npos;
}

// The lengths that the output may give to one input line: the piece unchanged or with its marker
// rewritten, the piece with a '*' inserted before its first '[', or a Value piece cut after its
// first '=' (or kept whole) and followed by a line feed and a value of the line's shape: at most
// 63 hexadecimal digits, bare or between '<' and '>', or a text between quotes of at most 63 bytes
// once unescaped (any bytes). The tests read a piece only up to its first NUL; the piece is
// written whole.
void next_offsets(std::string_view piece, std::string_view out, std::size_t at,
                  std::set<std::size_t>& next) {
  std::string_view text = piece.substr(0, piece.find('\0'));
  std::string_view rest = out.substr(at);
  if (rest.substr(0, piece.size()) == piece ||
      is_marker_rewrite(piece, rest.substr(0, piece.size())))
    next.insert(at + piece.size());
  std::size_t b = text.find('[');
  if (b != std::string_view::npos && rest.size() > piece.size() && rest[b] == '*' &&
      rest.substr(0, b) == piece.substr(0, b) &&
      rest.substr(b + 1, piece.size() - b) == piece.substr(b))
    next.insert(at + piece.size() + 1);
  if (text.compare(0, 5, "Value") == 0) {
    std::size_t eq = text.substr(0, text.find_first_of("\r\n")).find('=');
    std::string_view kept = eq == std::string_view::npos ? piece : text.substr(0, eq + 1);
    if (rest.substr(0, kept.size()) != kept) return;
    std::string_view after = rest.substr(kept.size());
    std::size_t lf = after.find('\n');
    if (lf != std::string_view::npos && lf <= 65) {
      std::string_view value = after.substr(0, lf);
      if ((value.size() <= 63 && all_hex(value)) ||
          (value.size() >= 3 && value.front() == '<' && value.back() == '>' &&
           all_hex(value.substr(1, value.size() - 2))))
        next.insert(at + kept.size() + lf + 1);
    }
    if (after.substr(0, 1) == "\"") {
      for (std::size_t k = 1; k < 63 && k + 1 < after.size(); ++k) {
        if (after[k] == '"' && after[k + 1] == '\n') next.insert(at + kept.size() + k + 2);
      }
    }
  }
}

// The script's whole lines, each with its line end, NUL bytes kept.
std::vector<std::string> whole_pieces(std::string_view text) {
  std::vector<std::string> pieces;
  while (!text.empty()) {
    const std::size_t lf = text.find('\n');
    const std::size_t n = lf == std::string_view::npos ? text.size() : lf + 1;
    pieces.emplace_back(text.substr(0, n));
    text.remove_prefix(n);
  }
  return pieces;
}

// True when the output can be read as the script's pieces, in order, each written by one of the
// rules above: nothing dropped, nothing added elsewhere, nothing reordered.
bool is_piecewise_rewrite(const std::vector<std::string>& pieces, std::string_view out) {
  std::set<std::size_t> reach = {0};
  for (const std::string& piece : pieces) {
    std::set<std::size_t> next;
    for (std::size_t at : reach) next_offsets(piece, out, at, next);
    if (next.empty()) return false;
    reach.swap(next);
  }
  return reach.count(out.size()) == 1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::ScratchDir scratch;
  std::vector<std::string> parts = fuzz::split_input(data, size, 2);
  const std::string& script = parts[0];
  fuzz::write_file("setup.txt", script);
  fuzz::write_file("Difftemp.ini", parts[1]);

  std::vector<std::string> pieces = whole_pieces(script);
  bool any_setup = false;
  for (const std::string& piece : pieces) any_setup |= piece.compare(0, 5, "Setup") == 0;

  FUZZ_CHECK(nvram::use_different_create_merged("setup.txt", "Difftemp.ini", "merged.txt") == 0);
  FUZZ_CHECK(fuzz::read_file("setup.txt") == script);
  FUZZ_CHECK(fuzz::read_file("Difftemp.ini") == parts[1]);
  std::string merged = fuzz::read_file("merged.txt");
  if (!any_setup) FUZZ_CHECK(merged == script);
  FUZZ_CHECK(is_piecewise_rewrite(pieces, merged));

  // With no differences the merged script is the script itself, byte for byte, NULs included.
  fuzz::write_file("empty.ini", "");
  FUZZ_CHECK(nvram::use_different_create_merged("setup.txt", "empty.ini", "merged.txt") == 0);
  FUZZ_CHECK(fuzz::read_file("merged.txt") == script);
  return 0;
}
