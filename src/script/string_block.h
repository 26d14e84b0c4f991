#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// A list of strings kept end to end in one block: one allocation for a whole record file's keys or
// values instead of one per string.
namespace nvram {

class StringBlock {
 public:
  void add(std::string_view s) {
    text_.append(s);
    start_.push_back(text_.size());
  }
  std::size_t size() const { return start_.size() - 1; }
  std::string_view operator[](std::size_t i) const {
    return std::string_view(text_).substr(start_[i], start_[i + 1] - start_[i]);
  }

 private:
  std::string text_;
  std::vector<std::size_t> start_{0};  // string i is text_[start_[i], start_[i + 1])
};

}  // namespace nvram
