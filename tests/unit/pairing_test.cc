// A real export carried into many made-up next releases of its board, merged.txt read back with a
// parse of this file's own: by Token and Offset, each question holds its dumped value, or its own
// one and a "Not carried" line names it; never another question's value.
#include <gtest/gtest.h>

#include <map>
#include <random>
#include <sstream>

#include "nvram/commands.h"
#include "test_dir.h"

namespace nvram {
namespace {

constexpr auto npos = std::string::npos;
using Block = std::vector<std::string>;  // a question's lines: Setup, Help, Token, ...
using Script = std::vector<Block>;       // [0] is the header
std::string hex(unsigned v) {
  return (std::ostringstream() << std::hex << std::uppercase << v).str();
}
std::string bytes_of(const std::string& name) {
  return (std::ostringstream() << std::ifstream(name, std::ios::binary).rdbuf()).str();
}

Script blocks_of(const std::string& bytes) {
  Script out(1);
  for (std::size_t pos = 0, end; pos < bytes.size(); pos = end) {
    end = std::min(bytes.find('\n', pos), bytes.size() - 1) + 1;
    if (bytes.compare(pos, 14, "Setup Question") == 0) out.emplace_back();
    out.back().push_back(bytes.substr(pos, end - pos));
  }
  if (out.back().back() != "\r\n") out.back().push_back("\r\n");  // the last question
  return out;
}

struct Seen {  // value: "<12>", "0A", "\"text\"" or an option's "02"
  std::string id, key, value, default_value;
};
Seen parse(const Block& b) {
  Seen s;
  std::string first;  // the first option, which counts when none is starred
  for (bool options = false; const std::string& raw : b) {
    options = options && raw[0] != '\r';
    if (raw[0] == '\r' || (!options && std::string_view("STOBV").find(raw[0]) == npos)) continue;
    const std::string_view line(raw.data(), raw.find_first_of("\r\n"));
    std::string_view rest = line.substr(line.find('=') + 1);
    rest.remove_prefix(std::min(rest.size(), rest.find_first_not_of(" \t")));
    const std::string_view word = rest.substr(0, rest.find_first_of(" \t/"));
    const std::size_t at = line.find('[');
    const std::string_view code = line.substr(at + 1, line.find(']', at) - at - 1);
    if (line.starts_with("Setup")) {
      for (char c : rest.substr(0, rest.find('/'))) {
        if (c > ' ' && c < 127)
          s.key += std::string_view("%{}[]<>").find(c) == npos ? std::string(1, c) : "%" + hex(c);
      }
    } else if (line.starts_with("Token") || line.starts_with("Offset")) {
      s.id.append(word).append("/");
    } else if (line.starts_with("BIOS")) {
      s.default_value = rest.starts_with('[') ? code : word;
    } else if (line.starts_with("Value")) {
      s.value = rest.starts_with('"') ? rest.substr(0, rest.find('"', 1) + 1) : word;
    } else if (at != npos && (options || line.starts_with("Options"))) {
      if (!options) first = code;
      options = true;
      if (at > 0 && line[at - 1] == '*') s.value = code;
    }
  }
  if (s.value.empty()) s.value = first;
  return s;
}

std::vector<std::size_t> value_lines(const Block& b) {  // the Value line, or the option lines
  std::vector<std::size_t> at;
  for (std::size_t i = 0; i < b.size() && (at.empty() || b[i] != "\r\n"); ++i) {
    if (b[i].starts_with("Value") || b[i].starts_with("Options") ||
        (!at.empty() && b[i].find('[') != npos))
      at.push_back(i);
  }
  return at;
}
// Stars option `n` or writes a Value line of the same shape; with `bare`, the angled number bare.
void set_value(Block& b, unsigned n, bool bare = false) {
  const std::vector<std::size_t> at = value_lines(b);
  std::string& v = b[at[0]];
  const char shape = v[v.find('=') + 1];
  for (std::size_t i = 0, bracket; v.starts_with("Options") && i < at.size(); ++i) {
    if ((bracket = b[at[i]].find('[')) == npos) break;  // "Options =" without an option
    if (b[at[i]][bracket - 1] == '*') b[at[i]].erase(--bracket, 1);
    if (i == n % at.size()) b[at[i]].insert(bracket, "*");
  }
  if (bare)
    v = "Value\t=" + hex(std::stoul(v.substr(v.find('<') + 1))) + "\r\n";
  else if (shape == '<')
    v = "Value\t=<" + std::to_string(n % 5000) + ">\r\n";
  else if (shape == '"')
    v = "Value\t=\"T" + std::to_string(n % 9) + "\"\r\n";
  else if (v.starts_with("Value"))
    v = "Value\t=" + hex(n % 300) + "\r\n";
}

// The next release (questions added, removed, moved, renumbered; readings in texts moved on; an
// option replaced; an angled number made bare; help texts grown), and the user's dump: the settings
// of half of the questions so changed and of 40 others. `old_of` gives each question's place.
void make_update(std::mt19937& rng, const std::map<std::string, std::size_t>& old_of, Script& olds,
                 Script& news) {
  auto user_sets = [&](const Block& b, unsigned n) {
    auto o = old_of.find(parse(b).id);
    if (o != old_of.end() && rng() % 2) set_value(olds[o->second], n);
  };
  auto pick = [&] { return 1 + rng() % (news.size() - 6); };
  auto find = [&](auto fits, bool set = true) {  // the first question that fits, from anywhere
    std::size_t i = pick();
    while (!fits(i)) i = i % (news.size() - 6) + 1;
    if (set) user_sets(news[i], rng());
    return i;
  };
  auto any = [](std::size_t) { return true; };
  auto skeleton = [&](std::string s) {
    std::erase_if(s, [](char c) { return std::isdigit(c) || c == '.' || c == '+' || c == '-'; });
    return s;
  };
  for (int n = 0; n < 4; ++n) {
    Block copy = news[pick()];
    copy[2] = "Token\t=F" + hex(0x10000 + 0x1000 * n + rng() % 0x1000) + "\r\n";
    news.insert(news.begin() + pick(), copy);
    news.erase(news.begin() + find(any));
    news[find(any)][2] = "Token\t=E" + hex(0x10000 + 0x1000 * n + rng() % 0x1000) + "\r\n";
    const long from = pick(), to = std::max(1L, from + long(rng() % 11) - 5);
    if (from < to)
      std::rotate(news.begin() + from, news.begin() + from + 1, news.begin() + to + 1);
    else
      std::rotate(news.begin() + to, news.begin() + from, news.begin() + from + 1);
    auto digit = [&](std::size_t i) { return news[i][0].find_last_of("0123456789"); };
    std::size_t i = find([&](std::size_t i) { return digit(i) != npos; });
    news[i][0][digit(i)] = char('0' + rng() % 10);
    std::size_t j = 0;
    i = find([&](std::size_t i) {  // two neighbours that swap their readings
      for (j = i + 1; j < i + 5; ++j) {
        if (news[i][0] != news[j][0] && skeleton(news[i][0]) == skeleton(news[j][0])) return true;
      }
      return false;
    });
    std::swap(news[i][0], news[j][0]);
    user_sets(news[j], rng());
    i = find([&](std::size_t i) { return value_lines(news[i]).size() > 2; }, false);
    j = 1 + rng() % (value_lines(news[i]).size() - 1);
    user_sets(news[i], unsigned(j));  // often the option that gives way to a new one
    news[i][value_lines(news[i])[j]] = "         [7E]Added\r\n";
    auto angled = [&](std::size_t i) { return news[i][value_lines(news[i])[0]][7] == '<'; };
    set_value(news[find(angled)], 0, true);
    news.erase(news.begin() + find([&](std::size_t i) { return news[i][0] == news[i + 1][0]; }));
    std::string& help = news[pick()][1];  // to 298-305 bytes, or by one
    help.insert(help.size() - 2, std::max(1L, long(298 + rng() % 8) - long(help.size())), '.');
  }
  for (int n = 0; n < 40; ++n) set_value(olds[1 + rng() % (olds.size() - 1)], rng());
}

// Runs the update's file work and checks merged.txt; returns the number of values carried.
int check_update(const Script& olds, const Script& news) {
  for (auto [name, script] : {std::pair{"old.txt", &olds}, {"new.txt", &news}}) {
    std::ofstream out(name, std::ios::binary);
    for (const Block& b : *script)
      for (const std::string& line : b) out << line;
  }
  write_file("Exclude.txt", "");
  testing::internal::CaptureStdout();
  EXPECT_EQ(update_files("old.txt", "new.txt"), 0);
  const std::string printed = testing::internal::GetCapturedStdout();
  const Script merged = blocks_of(bytes_of("merged.txt"));
  EXPECT_EQ(merged.size(), news.size());
  std::vector<Seen> old_seen;
  std::map<std::string, std::size_t> old_of, new_of;
  for (std::size_t i = 1; i < olds.size(); ++i)
    old_of[old_seen.emplace_back(parse(olds[i])).id] = i - 1;
  auto recorded = [](const std::string& v) { return v[0] == '<' ? v.substr(1, v.size() - 2) : v; };
  std::string wanted;  // the "Not carried" lines: values refused, then set questions left behind
  int carried = 0;
  for (std::size_t i = 1; i < std::min(merged.size(), news.size()); ++i) {
    const Seen n = parse(news[i]), m = merged[i] == news[i] ? n : parse(merged[i]);
    EXPECT_EQ(m.id, n.id);
    new_of[n.id] = i;
    auto old = old_of.find(n.id);
    const std::string was = old == old_of.end() ? n.value : old_seen[old->second].value;
    carried += m.value == was && m.value != n.value;
    if (m.value == was) continue;
    EXPECT_EQ(m.value, n.value) << m.key << " (" << m.id << ") holds another question's value";
    if (recorded(m.value) != recorded(was))
      wanted += "Not carried: " + n.key + " = " + recorded(was) + "\r\n";
  }
  for (const Seen& o : old_seen) {
    if (new_of.count(o.id) || o.value.empty() || o.default_value.empty() ||
        o.default_value == o.value)
      continue;
    wanted += "Not carried: " + o.key + " = " + recorded(o.value) + "\r\n";
  }
  EXPECT_EQ(printed, wanted);
  return carried;
}

TEST(Pairing, RealExportCarriedIntoGeneratedReleases) {
  const std::string real = std::string(NVRAM_SHARED_DIR) + "/corpus/real/real01.txt";
  if (!std::filesystem::exists(real)) GTEST_SKIP() << "no real exported script at " << real;
  const Script base = blocks_of(bytes_of(real));
  std::map<std::string, std::size_t> old_of;
  for (std::size_t i = 1; i < base.size(); ++i) old_of[parse(base[i]).id] = i;
  ScratchDir dir;
  const char* rounds_env = std::getenv("NVRAM_PAIRING_ROUNDS");
  const int rounds = rounds_env ? std::atoi(rounds_env) : 25;
  int carried = 0;
  for (int round = 0; round < rounds && !HasFailure(); ++round) {
    SCOPED_TRACE("round " + std::to_string(round));  // and seed
    std::mt19937 rng(round);
    Script olds = base, news = base;
    make_update(rng, old_of, olds, news);
    carried += check_update(olds, news);
  }
  if (!HasFailure()) {
    EXPECT_GT(carried, rounds * 20);  // the updates do carry values
  }
}

}  // namespace
}  // namespace nvram
