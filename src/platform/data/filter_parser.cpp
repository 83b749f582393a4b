// The filter-text language: tokens, precedence (OR below AND below NOT below
// comparisons), literals converted to the type of the field they meet, and
// errors that name the position in characters.

#include <cstdint>
#include <memory>
#include <vector>

#include "filter_tree.h"
#include "platform/rtl/exceptions.h"
#include "platform/rtl/text.h"

namespace data {

namespace {

using namespace filtertree;

constexpr int kMaxDepth = 200;  // nesting of parentheses and NOT

enum class Tok { End, Ident, Field, String, Number, Minus, LParen, RParen, Eq, Ne, Lt, Gt, Le, Ge, And, Or, Not, Is, Null, True, False };

struct Token {
  Tok kind = Tok::End;
  size_t pos = 0;  // byte offset in the text
  std::string text;
};

Cat categoryOf(TFieldType t) {
  switch (t) {
    case TFieldType::String:
      return Cat::Str;
    case TFieldType::Float:
    case TFieldType::Integer:
      return Cat::Num;
    case TFieldType::DateTime:
      return Cat::Date;
    case TFieldType::Boolean:
      return Cat::Bool;
  }
  return Cat::Str;
}

const char* categoryName(Cat c) {
  switch (c) {
    case Cat::Str:
      return "string";
    case Cat::Num:
      return "numeric";
    case Cat::Date:
      return "date-time";
    case Cat::Bool:
      return "boolean";
  }
  return "?";
}

Op flip(Op op) {
  switch (op) {
    case Op::Lt:
      return Op::Gt;
    case Op::Gt:
      return Op::Lt;
    case Op::Le:
      return Op::Ge;
    case Op::Ge:
      return Op::Le;
    default:
      return op;
  }
}

bool isIdentStart(unsigned char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c >= 0x80; }
bool isIdentChar(unsigned char c) { return isIdentStart(c) || (c >= '0' && c <= '9'); }
bool isDigit(char c) { return c >= '0' && c <= '9'; }

class Parser {
public:
  Parser(std::string_view text, const FilterSchema& schema, Expr& expr)
      : text_(text), schema_(schema), expr_(expr), fs_(expr.fs_) {}

  void run() {
    tokenize();
    expr_.root_ = parseOr(0);
    if (tokens_[pos_].kind != Tok::End) fail("unexpected " + describe(tokens_[pos_]), tokens_[pos_].pos);
  }

private:
  // An operand of a comparison, before it is known what it is compared with.
  struct Operand {
    enum { Field, String, Number, Bool } kind;
    size_t pos;
    std::string text;  // String: the literal; Number: its spelling
    int field = -1;
    double num = 0.0;
    bool boolean = false;
  };

  size_t charPos(size_t bytePos) const { return rtl::Utf8Length(std::string_view(text_).substr(0, bytePos)); }

  // Positions in messages are 1-based and count characters, not bytes.
  [[noreturn]] void fail(const std::string& problem, size_t bytePos) const {
    size_t chars = charPos(bytePos);
    std::string shown(text_);
    if (shown.size() > 200) {
      size_t cut = 200;
      while (cut > 0 && (static_cast<unsigned char>(shown[cut]) & 0xC0) == 0x80) --cut;  // whole characters
      shown.resize(cut);
      shown += "...";
    }
    throw rtl::EDatabaseError("Filter expression error at position " + std::to_string(chars + 1) + ": " + problem +
                              " (filter \"" + shown + "\")");
  }

  static std::string describe(const Token& t) {
    switch (t.kind) {
      case Tok::End:
        return "end of text";
      case Tok::Ident:
      case Tok::Field:
        return "field name '" + t.text + "'";
      case Tok::String:
        return "string '" + t.text + "'";
      case Tok::Number:
        return "number " + t.text;
      case Tok::RParen:
        return "')'";
      case Tok::LParen:
        return "'('";
      default:
        return "'" + t.text + "'";
    }
  }

  void push(Tok kind, size_t pos, std::string text) { tokens_.push_back(Token{kind, pos, std::move(text)}); }

  void tokenize() {
    size_t i = 0, n = text_.size();
    while (i < n) {
      char c = text_[i];
      size_t start = i;
      if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
        ++i;
      } else if (c == '\'') {
        std::string lit;
        ++i;
        for (;;) {
          if (i >= n) fail("unterminated string literal", start);
          if (text_[i] == '\'') {
            if (i + 1 < n && text_[i + 1] == '\'') {
              lit += '\'';
              i += 2;
              continue;
            }
            ++i;
            break;
          }
          lit += text_[i++];
        }
        push(Tok::String, start, std::move(lit));
      } else if (c == '[') {
        size_t close = text_.find(']', i + 1);
        if (close == std::string_view::npos) fail("missing ']' after field name", start);
        std::string name(text_.substr(i + 1, close - i - 1));
        if (name.empty()) fail("empty field name '[]'", start);
        push(Tok::Field, start, std::move(name));
        i = close + 1;
      } else if (isDigit(c) || (c == fs_.DecimalSeparator && i + 1 < n && isDigit(text_[i + 1]))) {
        lexNumber(i);
      } else if (isIdentStart(static_cast<unsigned char>(c))) {
        while (i < n && isIdentChar(static_cast<unsigned char>(text_[i]))) ++i;
        std::string word(text_.substr(start, i - start));
        Tok kind = Tok::Ident;
        if (rtl::SameText(word, "AND"))
          kind = Tok::And;
        else if (rtl::SameText(word, "OR"))
          kind = Tok::Or;
        else if (rtl::SameText(word, "NOT"))
          kind = Tok::Not;
        else if (rtl::SameText(word, "IS"))
          kind = Tok::Is;
        else if (rtl::SameText(word, "NULL"))
          kind = Tok::Null;
        else if (rtl::SameText(word, "TRUE"))
          kind = Tok::True;
        else if (rtl::SameText(word, "FALSE"))
          kind = Tok::False;
        push(kind, start, std::move(word));
      } else if (c == '(') {
        push(Tok::LParen, start, "(");
        ++i;
      } else if (c == ')') {
        push(Tok::RParen, start, ")");
        ++i;
      } else if (c == '-') {
        push(Tok::Minus, start, "-");
        ++i;
      } else if (c == '=') {
        push(Tok::Eq, start, "=");
        ++i;
      } else if (c == '<') {
        if (i + 1 < n && text_[i + 1] == '>') {
          push(Tok::Ne, start, "<>");
          i += 2;
        } else if (i + 1 < n && text_[i + 1] == '=') {
          push(Tok::Le, start, "<=");
          i += 2;
        } else {
          push(Tok::Lt, start, "<");
          ++i;
        }
      } else if (c == '>') {
        if (i + 1 < n && text_[i + 1] == '=') {
          push(Tok::Ge, start, ">=");
          i += 2;
        } else {
          push(Tok::Gt, start, ">");
          ++i;
        }
      } else if (c == '"') {
        fail("unexpected '\"' (string literals take single quotes)", start);
      } else {
        fail(std::string("unexpected character '") + c + "'", start);
      }
    }
    push(Tok::End, n, "");
  }

  void lexNumber(size_t& i) {
    size_t start = i, n = text_.size();
    std::string spelled;  // the digits as written, read later with the settings
    while (i < n && isDigit(text_[i])) spelled += text_[i++];
    if (i < n && text_[i] == fs_.DecimalSeparator) {
      spelled += fs_.DecimalSeparator;
      ++i;
      if (i >= n || !isDigit(text_[i])) fail("malformed number '" + std::string(text_.substr(start, i - start)) + "'", start);
      while (i < n && isDigit(text_[i])) spelled += text_[i++];
    }
    if (i < n && (text_[i] == 'e' || text_[i] == 'E')) {
      size_t j = i + 1;
      if (j < n && (text_[j] == '+' || text_[j] == '-')) ++j;
      if (j < n && isDigit(text_[j])) {
        spelled.append(text_.substr(i, j - i));
        i = j;
        while (i < n && isDigit(text_[i])) spelled += text_[i++];
      }
    }
    if (i < n && (text_[i] == '.' || text_[i] == ',' || isIdentChar(static_cast<unsigned char>(text_[i])))) {
      size_t end = i;
      while (end < n && (text_[end] == '.' || text_[end] == ',' || isIdentChar(static_cast<unsigned char>(text_[end])))) ++end;
      std::string bad(text_.substr(start, end - start));
      if (text_[i] == '.' || text_[i] == ',')
        fail("malformed number '" + bad + "' (the decimal separator is '" + std::string(1, fs_.DecimalSeparator) + "')", start);
      fail("malformed number '" + bad + "'", start);
    }
    push(Tok::Number, start, std::move(spelled));
  }

  const Token& peek() const { return tokens_[pos_]; }
  const Token& next() { return tokens_[pos_++]; }
  bool accept(Tok k) {
    if (tokens_[pos_].kind != k) return false;
    ++pos_;
    return true;
  }

  uint32_t add(Node node) {
    expr_.nodes_.push_back(std::move(node));
    return static_cast<uint32_t>(expr_.nodes_.size() - 1);
  }

  uint32_t group(Kind kind, const std::vector<uint32_t>& items) {
    Node node;
    node.kind = kind;
    node.first = static_cast<uint32_t>(expr_.children_.size());
    node.count = static_cast<uint32_t>(items.size());
    expr_.children_.insert(expr_.children_.end(), items.begin(), items.end());
    return add(std::move(node));
  }

  void enter(int depth) const {
    if (depth > kMaxDepth) fail("expression nested too deeply (more than " + std::to_string(kMaxDepth) + " levels)", peek().pos);
  }

  uint32_t parseOr(int depth) {
    enter(depth);
    std::vector<uint32_t> items{parseAnd(depth)};
    while (accept(Tok::Or)) items.push_back(parseAnd(depth));
    return items.size() == 1 ? items[0] : group(Kind::Or, items);
  }

  uint32_t parseAnd(int depth) {
    std::vector<uint32_t> items{parseNot(depth)};
    while (accept(Tok::And)) items.push_back(parseNot(depth));
    return items.size() == 1 ? items[0] : group(Kind::And, items);
  }

  uint32_t parseNot(int depth) {
    if (accept(Tok::Not)) {
      enter(depth + 1);
      uint32_t child = parseNot(depth + 1);
      return group(Kind::Not, {child});
    }
    return parsePrimary(depth);
  }

  uint32_t parsePrimary(int depth) {
    if (peek().kind == Tok::LParen) {
      size_t open = next().pos;
      uint32_t inner = parseOr(depth + 1);
      if (!accept(Tok::RParen)) {
        if (peek().kind == Tok::End) fail("missing ')' for the '(' at position " + std::to_string(charPos(open) + 1), peek().pos);
        fail("expected ')' but found " + describe(peek()), peek().pos);
      }
      return inner;
    }
    return parsePredicate();
  }

  Operand parseOperand() {
    const Token& t = peek();
    Operand o{Operand::Field, t.pos, {}};
    switch (t.kind) {
      case Tok::Ident:
      case Tok::Field: {
        o.field = schema_.fieldIndex(t.text);
        if (o.field < 0) fail("field '" + t.text + "' not found", t.pos);
        o.text = t.text;
        ++pos_;
        return o;
      }
      case Tok::String:
        o.kind = Operand::String;
        o.text = t.text;
        ++pos_;
        return o;
      case Tok::Minus: {
        ++pos_;
        if (peek().kind != Tok::Number) fail("a number must follow '-'", t.pos);
        o = numberOperand(next(), true);
        o.pos = t.pos;
        return o;
      }
      case Tok::Number:
        return numberOperand(next(), false);
      case Tok::True:
      case Tok::False:
        o.kind = Operand::Bool;
        o.boolean = t.kind == Tok::True;
        o.text = t.text;
        ++pos_;
        return o;
      case Tok::End:
        fail("operand expected at end of text", t.pos);
      case Tok::Null:
        fail("NULL can only be tested with IS NULL or IS NOT NULL", t.pos);
      default:
        fail("operand expected but found " + describe(t), t.pos);
    }
  }

  Operand numberOperand(const Token& t, bool negative) {
    Operand o{Operand::Number, t.pos, (negative ? "-" : "") + t.text};
    double d;
    if (!rtl::TryStrToFloat(o.text, d, fs_)) fail("malformed number '" + o.text + "'", t.pos);
    o.num = d;
    return o;
  }

  static bool cmpToken(Tok k, Op& op) {
    switch (k) {
      case Tok::Eq:
        op = Op::Eq;
        return true;
      case Tok::Ne:
        op = Op::Ne;
        return true;
      case Tok::Lt:
        op = Op::Lt;
        return true;
      case Tok::Gt:
        op = Op::Gt;
        return true;
      case Tok::Le:
        op = Op::Le;
        return true;
      case Tok::Ge:
        op = Op::Ge;
        return true;
      default:
        return false;
    }
  }

  uint32_t parsePredicate() {
    Operand left = parseOperand();
    if (peek().kind == Tok::Is) {
      size_t isPos = next().pos;
      bool negate = accept(Tok::Not);
      if (!accept(Tok::Null)) fail("NULL expected after IS" + std::string(negate ? " NOT" : ""), peek().pos);
      if (left.kind != Operand::Field) fail("IS NULL needs a field name on its left", isPos);
      Node node;
      node.kind = negate ? Kind::IsNotNull : Kind::IsNull;
      node.field = left.field;
      return add(std::move(node));
    }
    Op op;
    if (!cmpToken(peek().kind, op)) {
      // A lone boolean field or TRUE/FALSE is a condition by itself.
      if (left.kind == Operand::Field && categoryOf(schema_.fieldType(left.field)) == Cat::Bool) {
        Node node;
        node.kind = Kind::BoolField;
        node.field = left.field;
        return add(std::move(node));
      }
      if (left.kind == Operand::Bool) {
        Node node;
        node.kind = Kind::Const;
        node.value = left.boolean;
        return add(std::move(node));
      }
      if (peek().kind == Tok::End) fail("comparison operator expected at end of text", peek().pos);
      fail("comparison operator expected but found " + describe(peek()), peek().pos);
    }
    size_t opPos = next().pos;
    if (peek().kind == Tok::End) fail("operand expected after the operator at end of text", peek().pos);
    Operand right = parseOperand();
    return comparison(left, op, right, opPos);
  }

  uint32_t comparison(Operand left, Op op, Operand right, size_t opPos) {
    if (left.kind != Operand::Field && right.kind == Operand::Field) {
      std::swap(left, right);
      op = flip(op);
    }
    if (left.kind == Operand::Field && right.kind == Operand::Field) {
      Cat a = categoryOf(schema_.fieldType(left.field));
      Cat b = categoryOf(schema_.fieldType(right.field));
      bool numeric = (a == Cat::Num || a == Cat::Date) && (b == Cat::Num || b == Cat::Date);
      if (a != b && !numeric)
        fail("type mismatch: " + std::string(categoryName(a)) + " field '" + left.text + "' compared with " +
                 categoryName(b) + " field '" + right.text + "'",
             opPos);
      Node node;
      node.kind = Kind::CmpFields;
      node.op = op;
      node.cat = a == b ? a : Cat::Num;
      node.field = left.field;
      node.field2 = right.field;
      return add(std::move(node));
    }
    if (left.kind != Operand::Field) return constant(left, op, right, opPos);

    Node node;
    node.kind = Kind::CmpLit;
    node.op = op;
    node.field = left.field;
    node.cat = categoryOf(schema_.fieldType(left.field));
    const std::string fieldDesc = std::string(categoryName(node.cat)) + " field '" + left.text + "'";
    switch (node.cat) {
      case Cat::Str:
        if (right.kind != Operand::String)
          fail("type mismatch: " + fieldDesc + " compared with " + (right.kind == Operand::Number ? "number " : "") +
                   right.text + " (write the value in single quotes)",
               right.pos);
        node.str = right.text;
        if (!expr_.options_.NoPartialCompare && (op == Op::Eq || op == Op::Ne) && !node.str.empty() &&
            node.str.back() == '*') {
          node.partial = true;
          node.str.pop_back();
        }
        if (expr_.options_.CaseInsensitive) node.str = fold(node.str);
        break;
      case Cat::Num:
        if (right.kind == Operand::Number) {
          node.num = right.num;
        } else if (right.kind == Operand::String) {
          if (!rtl::TryStrToFloat(right.text, node.num, fs_))
            fail("'" + right.text + "' is not a valid number for " + fieldDesc, right.pos);
        } else {
          fail("type mismatch: " + fieldDesc + " compared with " + right.text, right.pos);
        }
        break;
      case Cat::Date:
        if (right.kind == Operand::Number) {
          node.num = right.num;
        } else if (right.kind == Operand::String) {
          if (!rtl::TryStrToDate(right.text, node.num, fs_) && !rtl::TryStrToDateTime(right.text, node.num, fs_))
            fail("'" + right.text + "' is not a valid date for " + fieldDesc + " (expected " + fs_.ShortDateFormat + ")",
                 right.pos);
        } else {
          fail("type mismatch: " + fieldDesc + " compared with " + right.text, right.pos);
        }
        break;
      case Cat::Bool:
        if (right.kind == Operand::Bool) {
          node.boolean = right.boolean;
        } else if (right.kind == Operand::String && rtl::SameText(right.text, "true")) {
          node.boolean = true;
        } else if (right.kind == Operand::String && rtl::SameText(right.text, "false")) {
          node.boolean = false;
        } else {
          fail("type mismatch: " + fieldDesc + " compared with " + right.text + " (use TRUE or FALSE)", right.pos);
        }
        break;
    }
    return add(std::move(node));
  }

  // Two literals ("1 = 1"): decided now.
  uint32_t constant(const Operand& a, Op op, const Operand& b, size_t opPos) {
    int c = 0;
    if (a.kind == Operand::String && b.kind == Operand::String) {
      c = compareStr(a.text, b.text, expr_.options_.CaseInsensitive, false);
    } else if (a.kind == Operand::Number && b.kind == Operand::Number) {
      c = cmpNum(a.num, b.num);
    } else if (a.kind == Operand::Bool && b.kind == Operand::Bool) {
      c = cmpNum(a.boolean, b.boolean);
    } else {
      fail("type mismatch: " + a.text + " compared with " + b.text, opPos);
    }
    Node node;
    node.kind = Kind::Const;
    node.value = applyOp(op, c);
    return add(std::move(node));
  }

  std::string_view text_;
  const FilterSchema& schema_;
  Expr& expr_;
  const rtl::TFormatSettings& fs_;
  std::vector<Token> tokens_;
  size_t pos_ = 0;
};

}  // namespace

std::unique_ptr<FilterExpression> FilterExpression::Parse(std::string_view text, const FilterSchema& schema,
                                                          TFilterOptions options, const rtl::TFormatSettings& fs) {
  if (text.find_first_not_of(" \t\r\n") == std::string_view::npos) return nullptr;
  auto expr = std::make_unique<Expr>(options, fs);
  Parser(text, schema, *expr).run();
  return expr;
}

}  // namespace data
