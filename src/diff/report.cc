#include "diff/report.h"

#include <algorithm>
#include <cstddef>
#include <nlohmann/json.hpp>
#include <string_view>
#include <vector>

namespace nvram::diff {
namespace {

constexpr std::size_t kMaxColumn = 48;  // wider cells push the rest of their line only

const Question* old_of(const Report& rep, const Row& r) {
  return r.old_index == Row::kNoQuestion ? nullptr : &rep.old_script.questions[r.old_index];
}
const Question* new_of(const Report& rep, const Row& r) {
  return r.new_index == Row::kNoQuestion ? nullptr : &rep.new_script.questions[r.new_index];
}

bool wants_carry(const Row& r) {
  return r.status == Status::kChanged || (r.status == Status::kOnlyOld && r.lost) ||
         (r.status == Status::kRenamed && r.differs);
}

bool listed(const Row& r, const ReportOptions& options) {
  return options.all || r.status != Status::kSame;
}

// A row as the tools' formats write it: its two sides (either may be missing), the question that
// names it (NEW's where there is one) and whether an update is meant to carry its value.
struct RowSides {
  const Question* o;
  const Question* n;
  const Question& named;
  bool carry;
};

RowSides sides_of(const Report& rep, const Row& r) {
  const Question* o = old_of(rep, r);
  const Question* n = new_of(rep, r);
  return RowSides{o, n, n ? *n : *o, wants_carry(r)};
}

// ---------------------------------------------------------------------------------------------
// Text.

// Control characters (tabs in an option text, say) would break the columns.
std::string printable(std::string_view s) {
  std::string out = to_utf8(s);
  for (char& c : out) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = ' ';
  }
  return out;
}

std::size_t width(std::string_view utf8) {
  std::size_t n = 0;
  for (char c : utf8) n += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  return n;
}

std::string copy_suffix(const Question& q) {
  if (q.copies < 2) return {};
  return " (" + std::to_string(q.copy) + " of " + std::to_string(q.copies) + ")";
}

std::string name_of(const Question& q) {
  std::string name;
  if (q.words().text.empty()) name.append("{").append(q.key).append("}");
  else name = q.words().text;
  return printable(name) + copy_suffix(q);
}

// The NEW question's name; where OLD's copy of a paired question stands elsewhere, that too.
std::string paired_name(const Question& o, const Question& n) {
  std::string name = name_of(n);
  if (o.copies > 1 && (o.copy != n.copy || o.copies != n.copies)) {
    name += " [OLD " + std::to_string(o.copy) + " of " + std::to_string(o.copies) + "]";
  }
  return name;
}

std::string shown(const Question& q) { return printable(shown_value(q.words(), q.value)); }

enum Paint { kPlain, kOld, kNew, kWhy };

struct Cell {
  std::string text;
  Paint paint = kPlain;
};

class Table {
 public:
  explicit Table(bool color) : color_(color) {}

  void add(std::vector<Cell> row) { rows_.push_back(std::move(row)); }

  void render(const std::string& heading, std::string& out) const {
    out += color_ ? "\x1b[1m" + heading + "\x1b[0m\n" : heading + "\n";
    std::vector<std::size_t> widths;
    for (const auto& row : rows_) {
      widths.resize(std::max(widths.size(), row.size()));
      for (std::size_t c = 0; c < row.size(); ++c) {
        widths[c] = std::max(widths[c], std::min(kMaxColumn, width(row[c].text)));
      }
    }
    for (const auto& row : rows_) {
      std::string line = "  ";
      for (std::size_t c = 0; c < row.size(); ++c) {
        line += paint(row[c]);
        if (c + 1 == row.size()) break;
        std::size_t w = width(row[c].text);
        line.append(w < widths[c] ? widths[c] - w + 2 : 2, ' ');
      }
      while (!line.empty() && line.back() == ' ') line.pop_back();
      out += line + "\n";
    }
    out += "\n";
  }

 private:
  std::string paint(const Cell& cell) const {
    static constexpr const char* kCodes[] = {"", "\x1b[31m", "\x1b[32m", "\x1b[33m"};
    if (!color_ || cell.paint == kPlain || cell.text.empty()) return cell.text;
    return kCodes[cell.paint] + cell.text + "\x1b[0m";
  }

  bool color_;
  std::vector<std::vector<Cell>> rows_;
};

std::string version_note(const Script& s) {
  return s.version.empty() ? std::string() : "  (BIOS " + printable(s.version) + ")";
}

std::string summary_line(const Counts& c) {
  return std::to_string(c.changed) + " changed, " + std::to_string(c.renamed) + " renamed, " +
         std::to_string(c.only_old) + " only in OLD, " + std::to_string(c.only_new) +
         " only in NEW, " + std::to_string(c.not_carried) + " not carried, " +
         std::to_string(c.excluded) + " excluded, " + std::to_string(c.same) + " same\n";
}

// ---------------------------------------------------------------------------------------------
// JSON and CSV.

using Json = nlohmann::ordered_json;

Json side_json(const Question* q) {
  if (!q) return nullptr;
  const std::string* option =
      q->words().kind == Kind::kOption ? option_text(q->words(), q->value) : nullptr;
  return Json{{"key", to_utf8(q->key)},
              {"text", to_utf8(q->words().text)},
              {"copy", q->copy},
              {"copies", q->copies},
              {"kind", kind_name(q->words().kind)},
              {"value", to_utf8(q->value)},
              {"option", option ? Json(to_utf8(*option)) : Json(nullptr)},
              {"shown", to_utf8(shown_value(q->words(), q->value))},
              {"token", to_utf8(q->words().token)},
              {"offset", to_utf8(q->words().offset)}};
}

std::string csv_field(std::string_view raw) {
  std::string s = to_utf8(raw);
  if (s.find_first_of(",\"\r\n") == std::string::npos) return s;
  std::string out = "\"";
  for (char c : s) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + "\"";
}

}  // namespace

std::string format_text(const Report& rep, const ReportOptions& options) {
  std::string out = "OLD " + printable(rep.old_script.name) + version_note(rep.old_script) + "\n" +
                    "NEW " + printable(rep.new_script.name) + version_note(rep.new_script) + "\n\n";
  Table changed(options.color), renamed(options.color), only_old(options.color),
      only_new(options.color), not_carried(options.color), same(options.color);
  changed.add({{"QUESTION"}, {"OLD"}, {"NEW"}});
  renamed.add({{"OLD QUESTION"}, {"NEW QUESTION"}, {"OLD"}, {"NEW"}});
  only_old.add({{"QUESTION"}, {"VALUE"}});
  only_new.add({{"QUESTION"}, {"VALUE"}});
  not_carried.add({{"QUESTION"}, {"OLD"}, {"NEW"}, {"WHY"}});
  same.add({{"QUESTION"}, {"VALUE"}});
  for (const Row& r : rep.rows) {
    const Question* o = old_of(rep, r);
    const Question* n = new_of(rep, r);
    switch (r.status) {
      case Status::kChanged:
        changed.add({{paired_name(*o, *n)}, {shown(*o), kOld}, {shown(*n), kNew}});
        break;
      case Status::kRenamed:
        renamed.add({{name_of(*o)}, {name_of(*n)}, {shown(*o), kOld}, {shown(*n), kNew}});
        break;
      case Status::kOnlyOld:
        only_old.add({{name_of(*o)}, {shown(*o), kOld}});
        break;
      case Status::kOnlyNew:
        only_new.add({{name_of(*n)}, {shown(*n), kNew}});
        break;
      case Status::kSame:
        if (options.all) same.add({{paired_name(*o, *n)}, {shown(*n)}});
        break;
    }
    if (wants_carry(r) && !r.carried) {
      not_carried.add({{r.status == Status::kChanged ? paired_name(*o, *n) : name_of(*o)},
                       {shown(*o), kOld}, {n ? shown(*n) : std::string(), kNew},
                       {printable(r.reason), kWhy}});
    }
  }
  const Counts& c = rep.counts;
  if (options.all && c.same) same.render("Same: " + std::to_string(c.same), out);
  if (c.changed) changed.render("Changed: " + std::to_string(c.changed), out);
  if (c.renamed) renamed.render("Renamed: " + std::to_string(c.renamed), out);
  if (c.only_old) {
    only_old.render("Only in OLD (an update drops them): " + std::to_string(c.only_old), out);
  }
  if (c.only_new) only_new.render("Only in NEW: " + std::to_string(c.only_new), out);
  if (c.not_carried) {
    not_carried.render("Not carried by an update from OLD into NEW: " + std::to_string(c.not_carried),
                       out);
  }
  return out + summary_line(c);
}

std::string format_json(const Report& rep, const ReportOptions& options) {
  Json questions = Json::array();
  for (const Row& r : rep.rows) {
    if (!listed(r, options)) continue;
    const auto [o, n, named, carry] = sides_of(rep, r);
    questions.push_back(Json{{"status", status_name(r.status)},
                             {"key", to_utf8(named.key)},
                             {"text", to_utf8(named.words().text)},
                             {"copy", named.copy},
                             {"copies", named.copies},
                             {"kind", kind_name(named.words().kind)},
                             {"old", side_json(o)},
                             {"new", side_json(n)},
                             {"carried", carry ? Json(r.carried) : Json(nullptr)},
                             {"reason", carry && !r.carried ? Json(r.reason) : Json(nullptr)}});
  }
  const Counts& c = rep.counts;
  auto file = [](const Script& s) {
    return Json{{"file", to_utf8(s.name)},
                {"version", s.version.empty() ? Json(nullptr) : Json(to_utf8(s.version))},
                {"questions", s.questions.size()}};
  };
  Json doc{{"old", file(rep.old_script)},
           {"new", file(rep.new_script)},
           {"questions", std::move(questions)},
           {"summary", Json{{"changed", c.changed},
                            {"renamed", c.renamed},
                            {"only_old", c.only_old},
                            {"only_new", c.only_new},
                            {"not_carried", c.not_carried},
                            {"excluded", c.excluded},
                            {"same", c.same},
                            {"differs", rep.differs()}}}};
  return doc.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

std::string format_csv(const Report& rep, const ReportOptions& options) {
  std::string out =
      "status,key,text,copy,copies,kind,old_value,old_shown,new_value,new_shown,carried,reason,"
      "old_key,old_text,old_copy\n";
  for (const Row& r : rep.rows) {
    if (!listed(r, options)) continue;
    const auto [o, n, named, carry] = sides_of(rep, r);
    std::vector<std::string> fields{
        status_name(r.status),
        std::string(named.key),
        named.words().text,
        std::to_string(named.copy),
        std::to_string(named.copies),
        kind_name(named.words().kind),
        o ? std::string(o->value) : "",
        o ? shown_value(o->words(), o->value) : "",
        n ? std::string(n->value) : "",
        n ? shown_value(n->words(), n->value) : "",
        carry ? (r.carried ? "yes" : "no") : "",
        carry && !r.carried ? r.reason : "",
        o ? std::string(o->key) : "",
        o ? o->words().text : "",
        o ? std::to_string(o->copy) : ""};
    for (std::size_t i = 0; i < fields.size(); ++i) {
      if (i) out += ',';
      out += csv_field(fields[i]);
    }
    out += '\n';
  }
  return out;
}

}  // namespace nvram::diff
