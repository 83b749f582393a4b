#pragma once
// Streaming packet parser shared by PacketReader and the data set's loader.
// Not part of the public interface.

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "packet.h"

namespace data::detail {

// Receives one decoded row. part 0 holds the values (the new values of a
// modified row, the originals of a deleted one); part 1 the originals of a
// modified row.
class RowSink {
public:
  virtual ~RowSink() = default;
  virtual void beginRow(TUpdateStatus status) = 0;
  virtual void null(int part, int field) = 0;
  virtual void str(int part, int field, std::string_view text) = 0;
  virtual void num(int part, int field, double value) = 0;  // float and datetime
  virtual void integer(int part, int field, int64_t value) = 0;
  virtual void boolean(int part, int field, bool value) = 0;
  virtual void changed(const std::vector<bool>& mask) {}
  // A modified row written compactly: the original of this unchanged field
  // is its new value, already given as part 0.
  virtual void sameOriginal(int field) = 0;
  virtual void endRow() = 0;
};

class PacketParser {
public:
  // Reads the header and the metadata; EDatabaseError when malformed.
  explicit PacketParser(const std::string& bytes);
  ~PacketParser();
  PacketKind kind() const;
  const std::vector<TFieldDef>& defs() const;
  // Decodes the next row into sink; false when there are no more rows.
  bool next(RowSink& sink);
  size_t rowNumber() const;
  // Share of the text read so far (0 to 1), to size storage ahead.
  double progress();

private:
  struct State;
  std::unique_ptr<State> s_;
};

// The data set's encoder writes rows of values it has already checked (types
// from its own columns, text validated when assigned) straight into the
// writer's buffer.
struct WriterAccess {
  static std::string& beginRow(PacketWriter& w, TUpdateStatus status);
  // A modified row in the compact form ([4,[changed fields],...]).
  static std::string& beginCompactRow(PacketWriter& w);
  static void endRow(PacketWriter& w);
};

// JSON text helpers shared with the data set's encoder.
void AppendJsonString(std::string& out, std::string_view text);
void AppendJsonDouble(std::string& out, double value);
// The JSON text of a number written at p, which has room for kJsonDoubleMax
// characters; returns the end.
constexpr size_t kJsonDoubleMax = 32;
char* WriteJsonDouble(char* p, double value);
// True when a text holds a character JSON escapes: a control character, '"'
// or a backslash.
bool NeedsJsonEscape(std::string_view text);
bool ValidUtf8(std::string_view text);
// Asks for huge pages under a large buffer about to be filled (a hint; no
// effect where the system has none).
void AdviseHugePages(void* data, size_t bytes);

}  // namespace data::detail
