#pragma once
// TMessages: a screen's message catalog, lines of "key|text". Keys match
// without regard to case; the first line with a key wins.

#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace host {

class TMessages {
public:
  TMessages() = default;
  explicit TMessages(std::string name) : Name(std::move(name)) {}

  std::string Name;

  // The raw lines, as the catalog stores them.
  const std::vector<std::string>& Messages() const { return lines_; }
  void SetMessages(std::vector<std::string> lines);
  void Add(std::string_view key, std::string_view text);

  // The text for a key, or "" when the catalog has no such key.
  std::string Msg(std::string_view key) const;
  bool Has(std::string_view key) const;
  size_t Count() const { return lines_.size(); }
  // Key and text of line i, in catalog order.
  std::string KeyAt(size_t i) const;
  std::string TextAt(size_t i) const;

private:
  void index(size_t line);
  std::vector<std::string> lines_;
  std::unordered_map<std::string, size_t> byKey_;  // lower-case key -> line
};

}  // namespace host
