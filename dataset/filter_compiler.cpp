#include "dataset/filter_compiler.h"

#include <algorithm>
#include <utility>

#include "framework/exceptions.h"
#include "framework/sysutils.h"
#include "storage/expression_node.h"
#include "storage/value_text.h"

namespace dataset {
namespace {

constexpr const char* kIncorrectlyTerminated = "Filter expression incorrectly terminated";
constexpr const char* kUnterminatedName = "Unterminated field name";
constexpr const char* kUnterminatedString = "Unterminated string constant";
constexpr const char* kBadCharacter = "Invalid filter expression character: '%s'";
constexpr const char* kParenExpected = "')' expected but %s found";
constexpr const char* kExpressionExpected = "Expression expected but %s found";
constexpr const char* kNotBoolean = "Field '%s' is not of type Boolean";
constexpr const char* kIncorrectlyFormed = "Incorrectly formed filter expression";
constexpr const char* kNotUsable = "Field '%s' cannot be used in a filter expression";
constexpr const char* kNullOnlyEquality = "NULL only allowed with '=' and '<>'";
constexpr const char* kOutOfRange = "Constant out of range";

[[noreturn]] void Fail(const std::string& message) { throw fw::EDatabaseError(message); }
// Messages carrying one piece of text; the text is never read as a format.
[[noreturn]] void Fail(const char* format, const std::string& arg) {
  std::string m(format);
  const auto at = m.find("%s");
  m.replace(at, 2, arg);
  throw fw::EDatabaseError(m);
}

bool IsSymbolStart(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || (c >= 129 && c <= 254);
}
bool IsSymbolChar(unsigned char c) { return IsSymbolStart(c) || (c >= '0' && c <= '9'); }
bool IsNumberChar(unsigned char c) {
  return (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.' || c == 'E' || c == 'e';
}

bool IsComparison(TExprOperator op) {
  return op >= TExprOperator::toEQ && op <= TExprOperator::toLE;
}

TExprOperator Mirror(TExprOperator op) {
  switch (op) {
    case TExprOperator::toGT: return TExprOperator::toLT;
    case TExprOperator::toLT: return TExprOperator::toGT;
    case TExprOperator::toGE: return TExprOperator::toLE;
    case TExprOperator::toLE: return TExprOperator::toGE;
    default: return op;
  }
}

storage::ExprOperator EngineOp(TExprOperator op) {
  return static_cast<storage::ExprOperator>(static_cast<std::uint32_t>(op));
}

// The constant as text: a number keeps its token text; TRUE/FALSE and
// integer keys print as decimal integers.
std::string DataText(const TExprData& d) {
  if (const auto* s = std::get_if<std::string>(&d)) return *s;
  if (const auto* i = std::get_if<std::int64_t>(&d)) return fw::IntToStr(*i);
  return {};
}

std::int64_t DataInteger(const TExprData& d) {
  if (const auto* i = std::get_if<std::int64_t>(&d)) return *i;
  return fw::StrToInt64(DataText(d));
}

bool IsStringType(fw::TFieldType t) {
  return t == fw::TFieldType::ftString || t == fw::TFieldType::ftFixedChar ||
         t == fw::TFieldType::ftWideString;
}

}  // namespace

// ---------------------------------------------------------------------------
// TFilterExpr

TFilterExpr::TFilterExpr(const FilterFieldSource& dataset, fw::TFilterOptions options)
    : dataset_(dataset), options_(options) {}

TFilterExpr::~TFilterExpr() {
  // Freed along the chain, never through the tree: no recursion however
  // deep the tree is.
  while (nodes_ != nullptr) {
    TExprNode* next = nodes_->FNext;
    delete nodes_;
    nodes_ = next;
  }
}

TExprNode* TFilterExpr::NewNode(TExprNodeKind kind, TExprOperator op, TExprData data,
                                TExprNode* left, TExprNode* right) {
  auto* n = new TExprNode;
  n->FNext = nodes_;
  nodes_ = n;
  n->FKind = kind;
  n->FOperator = op;
  n->FData = std::move(data);
  n->FLeft = left;
  n->FRight = right;
  return n;
}

TExprNode* TFilterExpr::NewCompareNode(std::string_view field, TExprOperator op,
                                       TExprData value) {
  TExprNode* l = NewNode(TExprNodeKind::enField, TExprOperator::toNone, std::string(field),
                         nullptr, nullptr);
  TExprNode* r =
      NewNode(TExprNodeKind::enConst, TExprOperator::toNone, std::move(value), nullptr, nullptr);
  return NewNode(TExprNodeKind::enOperator, op, std::monostate{}, l, r);
}

std::vector<std::byte> TFilterExpr::GetFilterData(const TExprNode* root) {
  buffer_ = storage::FilterExpressionBuffer{};
  if (root == nullptr) Fail(kIncorrectlyFormed);
  (void)WriteCondition(root, 1);
  return buffer_.Finish();
}

FilterFieldInfo TFilterExpr::UsableField(const std::string& name) const {
  const auto f = dataset_.FindFilterField(name);
  if (!f) Fail(fw::db_msg::kFieldNotFound, name);
  if (f->kind != fw::TFieldKind::fkData && f->kind != fw::TFieldKind::fkInternalCalc) {
    Fail(kNotUsable, name);
  }
  return *f;
}

TFilterExpr::NodeRef TFilterExpr::WriteCondition(const TExprNode* node, int depth) {
  if (depth > kMaxFilterTreeDepth) Fail(kFilterTooDeep);
  switch (node->FKind) {
    case TExprNodeKind::enField: {
      const std::string name = DataText(node->FData);
      const FilterFieldInfo f = UsableField(name);
      if (f.data_type != fw::TFieldType::ftBoolean) Fail(kNotBoolean, name);
      const NodeRef cmp = buffer_.AddBinary(storage::ExprOperator::kEqual);
      buffer_.SetOperand(cmp, 0, buffer_.AddField(f.field_no, name));
      buffer_.SetOperand(cmp, 1, buffer_.AddBooleanConstant(0xFFFF));
      return cmp;
    }
    case TExprNodeKind::enConst:
      Fail(kIncorrectlyFormed);
    case TExprNodeKind::enOperator:
      break;
  }
  const TExprOperator op = node->FOperator;
  if (IsComparison(op)) return WriteComparison(node);
  if (op == TExprOperator::toNOT) {
    if (node->FLeft == nullptr) Fail(kIncorrectlyFormed);
    const NodeRef n = buffer_.AddUnary(storage::ExprOperator::kNot);
    buffer_.SetOperand(n, 0, WriteCondition(node->FLeft, depth + 1));
    return n;
  }
  if (op == TExprOperator::toAND || op == TExprOperator::toOR) return WriteChain(node, depth);
  if (op == TExprOperator::toISBLANK || op == TExprOperator::toNOTBLANK) {
    const TExprNode* f = node->FLeft;
    if (f == nullptr || f->FKind != TExprNodeKind::enField) Fail(kIncorrectlyFormed);
    const std::string name = DataText(f->FData);
    const FilterFieldInfo info = UsableField(name);
    const NodeRef n = buffer_.AddUnary(EngineOp(op));
    buffer_.SetOperand(n, 0, buffer_.AddField(info.field_no, name));
    return n;
  }
  Fail(kIncorrectlyFormed);
}

// A chain of AND or of OR links (a OR b OR c ... as the parser groups it)
// is written in a loop, so that its length costs no stack: its links stand
// at the chain's depth, as the engine's reader counts them, and only its
// other operands one level deeper. Each link is written before its left
// side and that before its right side, as recursion would write them.
TFilterExpr::NodeRef TFilterExpr::WriteChain(const TExprNode* root, int depth) {
  struct Pending {
    const TExprNode* node;
    NodeRef parent;
    int slot;  // -1 for the root
  };
  const auto in_chain = [&](const TExprNode* n) {
    return n->FKind == TExprNodeKind::enOperator && n->FOperator == root->FOperator;
  };
  NodeRef top = 0;
  std::vector<Pending> todo{{root, 0, -1}};
  while (!todo.empty()) {
    const Pending p = todo.back();
    todo.pop_back();
    NodeRef ref;
    if (p.slot < 0 || in_chain(p.node)) {
      if (p.node->FLeft == nullptr || p.node->FRight == nullptr) Fail(kIncorrectlyFormed);
      ref = buffer_.AddBinary(EngineOp(p.node->FOperator));
      todo.push_back({p.node->FRight, ref, 1});
      todo.push_back({p.node->FLeft, ref, 0});
    } else {
      ref = WriteCondition(p.node, depth + 1);
    }
    if (p.slot < 0) {
      top = ref;
    } else {
      buffer_.SetOperand(p.parent, p.slot, ref);
    }
  }
  return top;
}

TFilterExpr::NodeRef TFilterExpr::WriteComparison(const TExprNode* node) {
  const TExprNode* left = node->FLeft;
  const TExprNode* right = node->FRight;
  TExprOperator op = node->FOperator;
  if (left == nullptr || right == nullptr) Fail(kIncorrectlyFormed);
  if (right->FKind == TExprNodeKind::enField && left->FKind != TExprNodeKind::enField) {
    std::swap(left, right);
    op = Mirror(op);
  }
  if (left->FKind == TExprNodeKind::enConst) Fail(fw::db_msg::kFieldNotFound, DataText(left->FData));
  if (left->FKind != TExprNodeKind::enField) Fail(kIncorrectlyFormed);
  const std::string name = DataText(left->FData);
  const FilterFieldInfo field = UsableField(name);

  if (right->FKind == TExprNodeKind::enField) {
    const std::string other = DataText(right->FData);
    const FilterFieldInfo info = UsableField(other);
    const NodeRef n = buffer_.AddBinary(EngineOp(op));
    buffer_.SetOperand(n, 0, buffer_.AddField(field.field_no, name));
    buffer_.SetOperand(n, 1, buffer_.AddField(info.field_no, other));
    return n;
  }
  if (right->FKind != TExprNodeKind::enConst) Fail(kIncorrectlyFormed);

  if (std::holds_alternative<std::monostate>(right->FData)) {
    if (op != TExprOperator::toEQ && op != TExprOperator::toNE) Fail(kNullOnlyEquality);
    const NodeRef n = buffer_.AddUnary(op == TExprOperator::toEQ ? storage::ExprOperator::kIsNull
                                                                 : storage::ExprOperator::kIsNotNull);
    buffer_.SetOperand(n, 0, buffer_.AddField(field.field_no, name));
    return n;
  }

  if (IsStringType(field.data_type) &&
      (op == TExprOperator::toEQ || op == TExprOperator::toNE)) {
    std::string text = DataText(right->FData);
    if (!text.empty()) {
      const bool ci = options_.Has(fw::TFilterOption::foCaseInsensitive);
      std::size_t partial = 0;
      if (right->FPartial || node->FPartial) {
        partial = text.size();
      } else if (!options_.Has(fw::TFilterOption::foNoPartialCompare) && text.size() >= 2 &&
                 text.back() == '*') {
        text.pop_back();
        partial = text.size();
      }
      partial = std::min(partial, storage::kMaxFilterStringChars);
      if (ci || partial != 0) {
        const NodeRef n = buffer_.AddStringCompare(EngineOp(op), ci,
                                                   static_cast<std::uint8_t>(partial));
        buffer_.SetOperand(n, 0, buffer_.AddField(field.field_no, name));
        buffer_.SetOperand(n, 1, buffer_.AddStringConstant(text));
        return n;
      }
    }
  }

  const NodeRef n = buffer_.AddBinary(EngineOp(op));
  buffer_.SetOperand(n, 0, buffer_.AddField(field.field_no, name));
  buffer_.SetOperand(n, 1, WriteConstant(field, name, right->FData));
  return n;
}

TFilterExpr::NodeRef TFilterExpr::WriteConstant(const FilterFieldInfo& field,
                                                const std::string& name, const TExprData& value) {
  using fw::TFieldType;
  switch (field.data_type) {
    case TFieldType::ftString:
    case TFieldType::ftFixedChar:
    case TFieldType::ftWideString:
      return buffer_.AddStringConstant(DataText(value));
    case TFieldType::ftSmallint: {
      const std::int64_t v = DataInteger(value);
      if (v < -32768 || v > 32767) Fail(kOutOfRange);
      return buffer_.AddSmallIntConstant(static_cast<std::int16_t>(v));
    }
    case TFieldType::ftInteger:
    case TFieldType::ftAutoInc: {
      const std::int64_t v = std::holds_alternative<std::int64_t>(value)
                                 ? DataInteger(value)
                                 : fw::StrToInt(DataText(value));
      if (v < INT32_MIN || v > INT32_MAX) Fail(kOutOfRange);
      return buffer_.AddIntegerConstant(static_cast<std::int32_t>(v));
    }
    case TFieldType::ftWord: {
      const std::int64_t v = DataInteger(value);
      if (v < 0 || v > 65535) Fail(kOutOfRange);
      return buffer_.AddWordConstant(static_cast<std::uint16_t>(v));
    }
    case TFieldType::ftBoolean: {
      bool b = false;
      if (const auto* i = std::get_if<std::int64_t>(&value)) {
        b = *i != 0;
      } else {
        b = fw::StrToBool(DataText(value));
      }
      return buffer_.AddBooleanConstant(b ? 1 : 0);
    }
    case TFieldType::ftFloat:
    case TFieldType::ftCurrency: {
      const double d = std::holds_alternative<std::int64_t>(value)
                           ? static_cast<double>(std::get<std::int64_t>(value))
                           : fw::StrToFloat(DataText(value));
      return buffer_.AddFloatConstant(d);
    }
    case TFieldType::ftBCD: {
      const fw::Currency c = fw::StrToCurr(DataText(value));
      return buffer_.AddBcdConstant(storage::FormatCurrencyDigits(c.value, field.size));
    }
    case TFieldType::ftDate: {
      const fw::TTimeStamp ts = fw::DateTimeToTimeStamp(fw::StrToDate(DataText(value)));
      return buffer_.AddDateConstant(static_cast<std::uint32_t>(ts.Date));
    }
    case TFieldType::ftTime: {
      const fw::TTimeStamp ts = fw::DateTimeToTimeStamp(fw::StrToTime(DataText(value)));
      return buffer_.AddTimeConstant(static_cast<std::uint32_t>(ts.Time));
    }
    case TFieldType::ftDateTime: {
      const fw::TTimeStamp ts = fw::DateTimeToTimeStamp(fw::StrToDateTime(DataText(value)));
      return buffer_.AddDateTimeConstant(fw::TimeStampToMSecs(ts));
    }
    default:
      Fail(kNotUsable, name);
  }
}

// ---------------------------------------------------------------------------
// TExprParser

TExprParser::TExprParser(const FilterFieldSource& dataset, std::string_view text,
                         fw::TFilterOptions options)
    : filter_(dataset, options), text_(text) {
  NextToken();
  TExprNode* root = ParseExpr(0);
  if (token_ != TExprToken::etEnd) Fail(kIncorrectlyTerminated);
  filter_data_ = filter_.GetFilterData(root);
}

void TExprParser::NextToken() {
  const auto at = [&](std::size_t i) -> unsigned char {
    return i < text_.size() ? static_cast<unsigned char>(text_[i]) : 0;
  };
  while (at(pos_) >= 1 && at(pos_) <= 32) ++pos_;
  token_start_ = pos_;
  token_string_.clear();
  const unsigned char c = at(pos_);
  if (c == 0) {
    token_ = TExprToken::etEnd;
    return;
  }
  if (IsSymbolStart(c)) {
    while (IsSymbolChar(at(pos_))) ++pos_;
    token_string_.assign(text_.substr(token_start_, pos_ - token_start_));
    token_ = TExprToken::etSymbol;
    return;
  }
  switch (c) {
    case '[': {
      ++pos_;
      const std::size_t start = pos_;
      while (at(pos_) != 0 && at(pos_) != ']') ++pos_;
      if (at(pos_) != ']') Fail(kUnterminatedName);
      token_string_.assign(text_.substr(start, pos_ - start));
      ++pos_;
      token_ = TExprToken::etName;
      return;
    }
    case '\'': {
      ++pos_;
      for (;;) {
        const unsigned char ch = at(pos_);
        if (ch == 0) Fail(kUnterminatedString);
        ++pos_;
        if (ch == '\'') {
          if (at(pos_) != '\'') break;
          ++pos_;  // two quotes stand for one
        }
        if (token_string_.size() < kMaxFilterLiteralChars) token_string_.push_back(static_cast<char>(ch));
      }
      token_ = TExprToken::etLiteral;
      return;
    }
    case '(':
      ++pos_;
      token_string_ = "(";
      token_ = TExprToken::etLParen;
      return;
    case ')':
      ++pos_;
      token_string_ = ")";
      token_ = TExprToken::etRParen;
      return;
    case '=':
      ++pos_;
      token_string_ = "=";
      token_ = TExprToken::etEQ;
      return;
    case '<':
      ++pos_;
      if (at(pos_) == '>') {
        ++pos_;
        token_string_ = "<>";
        token_ = TExprToken::etNE;
      } else if (at(pos_) == '=') {
        ++pos_;
        token_string_ = "<=";
        token_ = TExprToken::etLE;
      } else {
        token_string_ = "<";
        token_ = TExprToken::etLT;
      }
      return;
    case '>':
      ++pos_;
      if (at(pos_) == '=') {
        ++pos_;
        token_string_ = ">=";
        token_ = TExprToken::etGE;
      } else {
        token_string_ = ">";
        token_ = TExprToken::etGT;
      }
      return;
    default:
      break;
  }
  if (c == '-' || (c >= '0' && c <= '9')) {
    ++pos_;
    while (IsNumberChar(at(pos_))) ++pos_;
    token_string_.assign(text_.substr(token_start_, pos_ - token_start_));
    token_ = TExprToken::etLiteral;
    return;
  }
  Fail(kBadCharacter, std::string(1, static_cast<char>(c)));
}

bool TExprParser::TokenIsSymbol(std::string_view word) const {
  return token_ == TExprToken::etSymbol && fw::SameText(token_string_, word);
}

std::string TExprParser::TokenForMessage() const {
  if (token_ == TExprToken::etEnd) return "nothing";
  return "'" + token_string_ + "'";
}

TExprNode* TExprParser::ParseExpr(int nesting) {
  TExprNode* left = ParseTerm(nesting);
  while (TokenIsSymbol("OR")) {
    NextToken();
    TExprNode* right = ParseTerm(nesting);
    left = filter_.NewNode(TExprNodeKind::enOperator, TExprOperator::toOR, std::monostate{}, left,
                           right);
  }
  return left;
}

TExprNode* TExprParser::ParseTerm(int nesting) {
  TExprNode* left = ParseFactor(nesting);
  while (TokenIsSymbol("AND")) {
    NextToken();
    TExprNode* right = ParseFactor(nesting);
    left = filter_.NewNode(TExprNodeKind::enOperator, TExprOperator::toAND, std::monostate{},
                           left, right);
  }
  return left;
}

TExprNode* TExprParser::ParseFactor(int nesting) {
  if (TokenIsSymbol("NOT")) {
    NextToken();
    TExprNode* operand = ParseCompare(nesting);
    return filter_.NewNode(TExprNodeKind::enOperator, TExprOperator::toNOT, std::monostate{},
                           operand, nullptr);
  }
  return ParseCompare(nesting);
}

TExprNode* TExprParser::ParseCompare(int nesting) {
  TExprNode* left = ParsePrimary(nesting);
  TExprOperator op;
  switch (token_) {
    case TExprToken::etEQ: op = TExprOperator::toEQ; break;
    case TExprToken::etNE: op = TExprOperator::toNE; break;
    case TExprToken::etGE: op = TExprOperator::toGE; break;
    case TExprToken::etLE: op = TExprOperator::toLE; break;
    case TExprToken::etGT: op = TExprOperator::toGT; break;
    case TExprToken::etLT: op = TExprOperator::toLT; break;
    default: return left;
  }
  NextToken();
  TExprNode* right = ParsePrimary(nesting);
  return filter_.NewNode(TExprNodeKind::enOperator, op, std::monostate{}, left, right);
}

TExprNode* TExprParser::ParsePrimary(int nesting) {
  TExprNode* node = nullptr;
  switch (token_) {
    case TExprToken::etSymbol:
      if (fw::SameText(token_string_, "NULL")) {
        node = filter_.NewNode(TExprNodeKind::enConst, TExprOperator::toNone, std::monostate{},
                               nullptr, nullptr);
      } else if (fw::SameText(token_string_, true_word_)) {
        node = filter_.NewNode(TExprNodeKind::enConst, TExprOperator::toNone, std::int64_t{1},
                               nullptr, nullptr);
      } else if (fw::SameText(token_string_, false_word_)) {
        node = filter_.NewNode(TExprNodeKind::enConst, TExprOperator::toNone, std::int64_t{0},
                               nullptr, nullptr);
      } else {
        node = filter_.NewNode(TExprNodeKind::enField, TExprOperator::toNone, token_string_,
                               nullptr, nullptr);
      }
      break;
    case TExprToken::etName:
      node = filter_.NewNode(TExprNodeKind::enField, TExprOperator::toNone, token_string_, nullptr,
                             nullptr);
      break;
    case TExprToken::etLiteral:
      node = filter_.NewNode(TExprNodeKind::enConst, TExprOperator::toNone, token_string_, nullptr,
                             nullptr);
      break;
    case TExprToken::etLParen: {
      if (nesting + 1 > kMaxFilterNesting) Fail(kFilterTooDeep);
      NextToken();
      node = ParseExpr(nesting + 1);
      if (token_ != TExprToken::etRParen) Fail(kParenExpected, TokenForMessage());
      break;
    }
    default:
      Fail(kExpressionExpected, TokenForMessage());
  }
  NextToken();
  return node;
}

std::vector<std::byte> CompileFilter(const FilterFieldSource& dataset, std::string_view text,
                                     fw::TFilterOptions options) {
  TExprParser parser(dataset, text, options);
  return parser.FilterData();
}

}  // namespace dataset
