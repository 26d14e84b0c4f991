#include "sim_script.h"

#include <algorithm>
#include <cstdint>
#include <tuple>
#include <unordered_map>

namespace sim {
namespace {

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r'; }
bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool is_hex(char c) { return is_digit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }
char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

std::string_view trim(std::string_view s) {
  while (!s.empty() && is_blank(s.front())) s.remove_prefix(1);
  while (!s.empty() && is_blank(s.back())) s.remove_suffix(1);
  return s;
}

bool iequals(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (lower(a[i]) != lower(b[i])) return false;
  return true;
}

// A line without its line end: the LF and any CRs before it.
std::string_view content(const std::string& line) {
  std::string_view c = line;
  if (!c.empty() && c.back() == '\n') c.remove_suffix(1);
  while (!c.empty() && c.back() == '\r') c.remove_suffix(1);
  return c;
}

// The first word of an entry's text: "39\t// Do NOT change this line" gives "39".
std::string first_word(std::string_view s) {
  s = trim(s);
  std::size_t end = 0;
  while (end < s.size() && !is_blank(s[end]) && s.substr(end, 2) != "//") ++end;
  return std::string(s.substr(0, end));
}

bool parse_hex(std::string_view s, std::uint64_t& v) {
  if (s.empty() || s.size() > 16) return false;
  v = 0;
  for (char c : s) {
    if (!is_hex(c)) return false;
    v = v * 16 + static_cast<std::uint64_t>(is_digit(c) ? c - '0' : lower(c) - 'a' + 10);
  }
  return true;
}

bool all_of(std::string_view s, bool (*pred)(char)) {
  return !s.empty() && std::all_of(s.begin(), s.end(), pred);
}

// The option on a line from offset `from` on (after the '=' of an Options line, or the whole of
// an option-list line). A line without '[' holds no option.
void add_option(Question& q, std::size_t line, std::string_view c, std::size_t from) {
  std::size_t bracket = c.find('[', from);
  if (bracket == std::string_view::npos) return;
  std::size_t close = c.find(']', bracket);
  if (close == std::string_view::npos) close = c.size();
  Option o;
  o.line = line;
  o.bracket = bracket;
  o.code = std::string(trim(c.substr(bracket + 1, close - bracket - 1)));
  std::size_t star = c.substr(from, bracket - from).rfind('*');
  if (star != std::string_view::npos) {
    o.starred = true;
    o.star = from + star;
  }
  q.options.push_back(std::move(o));
}

void read_value(Question& q, std::size_t line, std::string_view c, std::size_t from) {
  std::size_t begin = from;
  while (begin < c.size() && is_blank(c[begin])) ++begin;
  std::size_t end = begin;
  if (begin < c.size() && c[begin] == '"') {
    end = c.find('"', begin + 1);
    end = end == std::string_view::npos ? c.size() : end + 1;
  } else {
    while (end < c.size() && !is_blank(c[end]) && c.substr(end, 2) != "//") ++end;
  }
  q.has_value = true;
  q.value_line = line;
  q.value_begin = begin;
  q.value_end = end;
  q.value = std::string(c.substr(begin, end - begin));
}

// The text that a question of the machine, whose value is `current`, stores for the value
// `wanted` of an imported script; false when `wanted` does not fit. The machine keeps its own
// notation: <decimal>, bare hexadecimal or "quoted text".
std::string enclose(char open, std::string_view text, char close) {
  std::string out;
  out.reserve(text.size() + 2);
  out += open;
  out.append(text);
  out += close;
  return out;
}

bool fit_value(std::string_view current, std::string_view wanted, std::string& out) {
  bool quoted = wanted.size() >= 2 && wanted.front() == '"' && wanted.back() == '"';
  bool angled = wanted.size() >= 2 && wanted.front() == '<' && wanted.back() == '>';
  if (!current.empty() && current.front() == '"') {
    out = quoted ? std::string(wanted) : enclose('"', wanted, '"');
    return true;
  }
  std::string_view inner = angled ? wanted.substr(1, wanted.size() - 2) : wanted;
  if (!current.empty() && current.front() == '<') {
    out = enclose('<', inner, '>');
    return all_of(inner, is_digit);
  }
  out = std::string(inner);
  return !angled && all_of(inner, is_hex);
}

// Token and Offset as one lookup key, in a form that ignores letter case and leading zeros.
std::string place(const Question& q) {
  std::uint64_t t = 0, o = 0;
  if (parse_hex(q.token, t) && parse_hex(q.offset, o)) return std::to_string(t) + ":" + std::to_string(o);
  return q.token + "/" + q.offset;
}

std::string quote(std::string_view s) { return enclose('"', s, '"'); }

struct Edit {
  std::size_t line, begin, end;
  std::string text;
};

}  // namespace

const Option* Question::selected() const {
  const Option* last = nullptr;
  for (const Option& o : options)
    if (o.starred) last = &o;
  return last;
}

std::string Script::text() const {
  std::string out;
  for (const std::string& l : lines) out += l;
  return out;
}

bool same_code(std::string_view a, std::string_view b) {
  std::uint64_t x = 0, y = 0;
  if (parse_hex(a, x) && parse_hex(b, y)) return x == y;
  return iequals(a, b);
}

Script read_script(std::string_view text) {
  Script s;
  for (std::size_t pos = 0; pos < text.size();) {
    std::size_t nl = text.find('\n', pos);
    std::size_t end = nl == std::string_view::npos ? text.size() : nl + 1;
    s.lines.emplace_back(text.substr(pos, end - pos));
    pos = end;
  }
  bool in_question = false, in_options = false;
  for (std::size_t i = 0; i < s.lines.size(); ++i) {
    std::string_view c = content(s.lines[i]);
    std::string_view t = trim(c);
    // Blank lines and comments are part of no question; a commented-out question ends the one
    // before it, so that none of its lines can be taken for that one's.
    if (t.empty() || t.starts_with("//")) {
      if (t.starts_with("//") && iequals(trim(t.substr(2)).substr(0, 14), "Setup Question")) {
        in_question = in_options = false;
      }
      continue;
    }
    if (in_options && (t.front() == '[' || t.front() == '*')) {
      add_option(s.questions.back(), i, c, 0);
      continue;
    }
    std::size_t eq = c.find('=');
    std::string_view key = trim(c.substr(0, eq));
    std::size_t rest = eq == std::string_view::npos ? c.size() : eq + 1;
    in_options = false;
    if (iequals(key, "Setup Question")) {
      s.questions.emplace_back();
      s.questions.back().name = std::string(trim(c.substr(rest)));
      in_question = true;
      continue;
    }
    if (!in_question || eq == std::string_view::npos) continue;
    Question& q = s.questions.back();
    if (iequals(key, "Token")) {
      q.token = first_word(c.substr(rest));
    } else if (iequals(key, "Offset")) {
      q.offset = first_word(c.substr(rest));
    } else if (iequals(key, "Options")) {
      q.has_options = in_options = true;
      add_option(q, i, c, rest);
    } else if (iequals(key, "Value")) {
      read_value(q, i, c, rest);
    }
  }
  return s;
}

bool import_values(const Script& file, Script& machine, int& changed, std::string& error) {
  changed = 0;
  if (file.questions.empty()) {
    error = "the script holds no setup question";
    return false;
  }
  std::unordered_map<std::string, std::vector<std::size_t>> by_name;
  for (std::size_t i = 0; i < machine.questions.size(); ++i)
    by_name[machine.questions[i].name].push_back(i);
  std::vector<bool> paired(machine.questions.size(), false);
  auto agree = [](const std::string& a, const std::string& b) {
    return a.empty() || b.empty() || same_code(a, b);
  };
  // Some names hold live readings ("tCL   38") and change from one export to the next; such a
  // question is still found by its Token and Offset.
  std::unordered_map<std::string, std::vector<std::size_t>> by_place;
  for (std::size_t i = 0; i < machine.questions.size(); ++i) {
    const Question& q = machine.questions[i];
    if (!q.token.empty() && !q.offset.empty()) by_place[place(q)].push_back(i);
  }
  std::vector<Edit> edits;
  for (const Question& fq : file.questions) {
    const Question* mq = nullptr;
    auto pair = [&](const std::vector<std::size_t>& candidates) {
      for (std::size_t i : candidates) {
        const Question& q = machine.questions[i];
        if (!paired[i] && agree(fq.token, q.token) && agree(fq.offset, q.offset)) {
          paired[i] = true;
          mq = &q;
          return;
        }
      }
    };
    if (auto it = by_name.find(fq.name); it != by_name.end()) pair(it->second);
    if (mq == nullptr && !fq.token.empty() && !fq.offset.empty()) {
      if (auto it = by_place.find(place(fq)); it != by_place.end()) pair(it->second);
    }
    if (mq == nullptr) continue;  // a question this machine does not have
    const Option* fsel = fq.selected();
    std::string_view wanted;
    if (fsel != nullptr) {
      wanted = fsel->code;
    } else if (fq.has_value) {
      wanted = fq.value;
    } else {
      continue;  // the script leaves this question as it is
    }
    if (mq->has_options) {
      auto target = std::find_if(mq->options.begin(), mq->options.end(),
                                 [&](const Option& o) { return same_code(o.code, wanted); });
      if (target == mq->options.end()) {
        error = "value " + quote(wanted) + " names no option of question " + quote(mq->name);
        return false;
      }
      const Option* current = mq->selected();
      if (current != nullptr && same_code(current->code, wanted)) continue;
      for (const Option& o : mq->options)
        if (o.starred && &o != &*target) edits.push_back({o.line, o.star, o.star + 1, ""});
      if (!target->starred) edits.push_back({target->line, target->bracket, target->bracket, "*"});
      ++changed;
    } else if (mq->has_value) {
      std::string text;
      if (!fit_value(mq->value, wanted, text)) {
        error = "value " + quote(wanted) + " does not fit question " + quote(mq->name);
        return false;
      }
      if (text == mq->value) continue;
      edits.push_back({mq->value_line, mq->value_begin, mq->value_end, text});
      ++changed;
    }
  }
  // From the end of the script backwards, so that no edit moves the place of another.
  std::sort(edits.begin(), edits.end(), [](const Edit& a, const Edit& b) {
    return std::tie(a.line, a.begin) > std::tie(b.line, b.begin);
  });
  for (const Edit& e : edits) machine.lines[e.line].replace(e.begin, e.end - e.begin, e.text);
  if (!edits.empty()) machine = read_script(machine.text());
  return true;
}

}  // namespace sim
