// The filter expression compiler: a dataset's Filter text is read into a
// small parse tree (TExprNode) by TExprParser, and TFilterExpr writes that
// tree as a filter-expression buffer (storage/filter_buffer.h), typing
// every constant by the field it is compared with. Locate and Lookup make
// their comparisons directly with TFilterExpr::NewCompareNode.
//
// Grammar (keywords compared case-insensitively, only as symbols):
//   expression := term { OR term }
//   term       := factor { AND factor }
//   factor     := NOT comparison | comparison
//   comparison := primary [ ( = | <> | > | < | >= | <= ) primary ]
//   primary    := NULL | TRUE | FALSE | symbol | [name] | literal
//               | ( expression )
//
// The text is untrusted: parentheses nest at most kMaxFilterNesting deep,
// the written tree is at most kMaxFilterTreeDepth deep (the engine's reader
// refuses deeper trees), string literals keep at most 256 characters and
// the scanner never reads past the end of the text (a zero byte also ends
// it). A chain of conditions joined by OR, or by AND, is flat: it is read,
// written and evaluated in loops and counts one level of the tree however
// many terms it has (a AND b OR c AND d is an OR chain of two AND chains,
// two levels). Every failure raises fw::EDatabaseError (a constant that does
// not convert raises the framework's fw::EConvertError; a buffer past the
// largest one the engine takes raises its invalid-filter error).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "framework/db/db_common.h"
#include "storage/filter_buffer.h"

namespace dataset {

// Parentheses deeper than this are refused.
inline constexpr int kMaxFilterNesting = 64;
// Levels of the written tree (root = 1), a chain of AND or of OR counting
// one level (storage/expression_node.h); deeper trees are refused.
inline constexpr int kMaxFilterTreeDepth = 200;
// Characters of a quoted literal the scanner keeps.
inline constexpr std::size_t kMaxFilterLiteralChars = 256;

inline constexpr const char* kFilterTooDeep = "Filter expression is nested too deeply";

// A field of the dataset as the compiler needs it.
struct FilterFieldInfo {
  std::uint16_t field_no = 0;  // the dataset field's FieldNo
  fw::TFieldType data_type = fw::TFieldType::ftUnknown;
  int size = 0;  // string length; decimals of a BCD field
  fw::TFieldKind kind = fw::TFieldKind::fkData;
};

// The dataset's fields, looked up by name (as the dataset's FindField
// compares names).
class FilterFieldSource {
 public:
  virtual ~FilterFieldSource() = default;
  [[nodiscard]] virtual std::optional<FilterFieldInfo> FindFilterField(
      std::string_view name) const = 0;
};

enum class TExprNodeKind : std::uint8_t { enField = 0, enConst = 1, enOperator = 2 };

// Operator codes of parse-tree nodes and of the buffer.
enum class TExprOperator : std::uint32_t {
  toNone = 0,
  toISBLANK = 1,
  toNOTBLANK = 2,
  toEQ = 3,
  toNE = 4,
  toGT = 5,
  toLT = 6,
  toGE = 7,
  toLE = 8,
  toNOT = 9,
  toAND = 10,
  toOR = 11,
  toFIELD = 13,
  toCONST = 14,
};

// A constant's value: Null, text, or an integer (TRUE/FALSE and Locate
// keys).
using TExprData = std::variant<std::monostate, std::string, std::int64_t>;

struct TExprNode {
  TExprNode* FNext = nullptr;  // the previously made node
  TExprNodeKind FKind = TExprNodeKind::enConst;
  bool FPartial = false;
  TExprOperator FOperator = TExprOperator::toNone;
  TExprData FData;
  TExprNode* FLeft = nullptr;
  TExprNode* FRight = nullptr;
};

class TFilterExpr {
 public:
  TFilterExpr(const FilterFieldSource& dataset, fw::TFilterOptions options);
  ~TFilterExpr();
  TFilterExpr(const TFilterExpr&) = delete;
  TFilterExpr& operator=(const TFilterExpr&) = delete;

  TExprNode* NewNode(TExprNodeKind kind, TExprOperator op, TExprData data, TExprNode* left,
                     TExprNode* right);
  // field <op> value, for Locate and Lookup.
  TExprNode* NewCompareNode(std::string_view field, TExprOperator op, TExprData value);
  // Writes the tree under root; raises EDatabaseError when it cannot.
  [[nodiscard]] std::vector<std::byte> GetFilterData(const TExprNode* root);

 private:
  using NodeRef = storage::FilterExpressionBuffer::NodeRef;
  NodeRef WriteCondition(const TExprNode* node, int depth);
  NodeRef WriteChain(const TExprNode* root, int depth);
  NodeRef WriteComparison(const TExprNode* node);
  FilterFieldInfo UsableField(const std::string& name) const;
  NodeRef WriteConstant(const FilterFieldInfo& field, const std::string& name,
                        const TExprData& value);

  const FilterFieldSource& dataset_;
  fw::TFilterOptions options_;
  TExprNode* nodes_ = nullptr;  // head of the FNext chain
  storage::FilterExpressionBuffer buffer_;
};

enum class TExprToken : std::uint8_t {
  etEnd, etSymbol, etName, etLiteral, etLParen, etRParen, etEQ, etNE, etGE, etLE, etGT, etLT
};

class TExprParser {
 public:
  // Parses text and builds the buffer; raises EDatabaseError on bad text.
  TExprParser(const FilterFieldSource& dataset, std::string_view text,
              fw::TFilterOptions options);

  [[nodiscard]] const std::vector<std::byte>& FilterData() const { return filter_data_; }
  [[nodiscard]] std::size_t DataSize() const { return filter_data_.size(); }

 private:
  void NextToken();
  TExprNode* ParseExpr(int nesting);
  TExprNode* ParseTerm(int nesting);
  TExprNode* ParseFactor(int nesting);
  TExprNode* ParseCompare(int nesting);
  TExprNode* ParsePrimary(int nesting);
  bool TokenIsSymbol(std::string_view word) const;
  std::string TokenForMessage() const;

  TFilterExpr filter_;
  std::string_view text_;
  std::size_t pos_ = 0;
  std::size_t token_start_ = 0;
  std::string token_string_;
  std::string true_word_ = "True";
  std::string false_word_ = "False";
  TExprToken token_ = TExprToken::etEnd;
  std::vector<std::byte> filter_data_;
};

// Convenience: the buffer of a filter text.
[[nodiscard]] std::vector<std::byte> CompileFilter(const FilterFieldSource& dataset,
                                                   std::string_view text,
                                                   fw::TFilterOptions options);

}  // namespace dataset
