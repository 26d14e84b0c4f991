#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "script/big_buffer.h"
#include "script/exclusion.h"
#include "script/key_table.h"
#include "script/reader.h"

// Which question of one script is which question of another. A question is the tool's question:
// its Token and Offset lines name it, and a question keeps them from one export to the next, while
// its text may repeat (many questions share one key) or carry a live reading that changes. So the
// questions pair first by identity (Token, Offset and key skeleton), and only those without one
// pair by key and position, as the record files always did. The update (-u), the comparison with
// the live settings (-c) and nvram-diff all take their pairs from here.
namespace nvram {

// What the pairing makes of one walked question.
struct QuestionPair {
  long partner = -1;         // its partner among the searched questions; -1 for none
  bool excluded = false;     // the exclusion list names its key: it takes no part
  bool by_identity = false;  // paired by identity
  // The pairing by key searched for it and reached the end of the searched script before it
  // found anything (it then went on from the top).
  bool ran_off_end = false;
};

struct Pairing {
  PopulatedVector<QuestionPair> walked;  // one per walked question, in order
  std::size_t pairs = 0;
  // The searched questions that the update cannot carry: left without a partner, with an
  // identity that no walked question has, a key that is not excluded, and a default and a current
  // value (neither empty nor "?") that differ: a setting the user made. In script order.
  std::vector<std::size_t> lost;
};

// Pairs the walked questions with the searched ones. Questions whose key is excluded take no part.
//
// Round one, by identity: questions of equal identity pair, several of one identity in script
// order, first with first.
//
// Round two, by key, over the questions round one left: the walked questions in order, each
// searching the searched ones from the question after the previous partner to the end, then once
// from the top, passing over questions already paired and questions of other keys; a search that
// finds nothing sends the next one back to the top. It never pairs two questions that both have an
// identity: a walked question with one searches only among the searched questions without one,
// and only when the searched script holds such questions at all.
Pairing pair_questions(const ScriptReading& walked, const ScriptReading& searched,
                       const ExclusionTable& excluded);

// The search of round two over the searched questions' keys. Each key's questions are held in
// script order, once among all the questions and once among those without identity, so a search
// costs the same whatever the order of the questions.
class KeySearch {
 public:
  static constexpr long kNone = -1;

  // Adds the next searched question, with the hash_text() of its key; all are added before the
  // first search.
  void add(std::string_view key, std::uint32_t hash, bool has_identity);
  // Marks a question paired (by identity) before the searches.
  void take(std::size_t line);
  // The question that a search for `key` (among those without identity with plain_only) would
  // pair before it reaches the end, or kNone. Changes nothing.
  long ahead(std::string_view key, std::uint32_t hash, bool plain_only);
  // Pairs `key` with its partner and returns it, or kNone.
  long pair(std::string_view key, std::uint32_t hash, bool plain_only);

 private:
  // The questions of one key in script order: slots [begin, begin + count) and a closing slot that
  // stands for "none left".
  struct Group {
    std::uint32_t begin = 0, count = 0;
  };
  // The questions of each key, with the slots that lead to the first one not paired yet.
  struct Index {
    std::vector<Group> groups;            // by key number
    std::vector<std::uint32_t> line;      // the question held by each slot
    std::vector<std::uint32_t> next_free;
    std::vector<std::uint32_t> slot_of;   // by question: its slot, or kNoSlot
    void build(const std::vector<std::uint32_t>& key_of, std::size_t keys,
               const std::vector<bool>* only);
    std::uint32_t first_free(std::uint32_t slot);
    void remove(std::size_t line_number);
  };
  static constexpr std::uint32_t kNoSlot = UINT32_MAX;

  void build();
  long find(std::string_view key, std::uint32_t hash, bool plain_only, bool take);

  KeyTable keys_;
  std::vector<std::uint32_t> key_of_;  // by question
  std::vector<bool> plain_of_;         // by question: it has no identity
  Index all_, plain_index_;
  bool built_ = false;
  std::size_t position_ = 0;
};

}  // namespace nvram
