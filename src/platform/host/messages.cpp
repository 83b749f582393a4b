#include "messages.h"

#include "platform/rtl/format.h"

namespace host {

namespace {
std::string foldKey(std::string_view key) { return rtl::LowerCase(key); }

// A line without a bar is a key with an empty text.
std::pair<std::string_view, std::string_view> split(std::string_view line) {
  auto bar = line.find('|');
  if (bar == std::string_view::npos) return {line, {}};
  return {line.substr(0, bar), line.substr(bar + 1)};
}
}  // namespace

void TMessages::SetMessages(std::vector<std::string> lines) {
  lines_ = std::move(lines);
  byKey_.clear();
  for (size_t i = 0; i < lines_.size(); ++i) index(i);
}

void TMessages::Add(std::string_view key, std::string_view text) {
  std::string line(key);
  line += '|';
  line += text;
  lines_.push_back(std::move(line));
  index(lines_.size() - 1);
}

void TMessages::index(size_t line) {
  byKey_.emplace(foldKey(split(lines_[line]).first), line);  // emplace keeps the first
}

std::string TMessages::Msg(std::string_view key) const {
  auto it = byKey_.find(foldKey(key));
  if (it == byKey_.end()) return {};
  return std::string(split(lines_[it->second]).second);
}

bool TMessages::Has(std::string_view key) const { return byKey_.count(foldKey(key)) != 0; }

std::string TMessages::KeyAt(size_t i) const { return std::string(split(lines_.at(i)).first); }
std::string TMessages::TextAt(size_t i) const { return std::string(split(lines_.at(i)).second); }

}  // namespace host
