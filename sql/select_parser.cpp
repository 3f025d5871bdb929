// The statement grammar of TDataQuery (see data_query.h).
#include <cstdint>
#include <string>
#include <unordered_set>

#include "framework/sysutils.h"
#include "platform/text.h"
#include "sql/data_query.h"
#include "sql/sql_error.h"

namespace sql {

namespace {

bool IsName(int type) { return type == kTokenIdentifier || type == kTokenQuoted; }

}  // namespace

void TDataQuery::Expected(std::string_view text) const {
  SqlError(std::string(text) + TokenText() + "'");
}

void TDataQuery::ParseSelect() {
  NextToken();
  if (!IsKeyword("SELECT")) Expected("SELECT keyword expected, instead found '");
  NextToken();
  if (IsKeyword("ALL")) {
    NextToken();
  } else if (IsKeyword("DISTINCT")) {
    flags_.distinct = true;
    NextToken();
  }
  ParseSelectItems();
  if (IsKeyword("INTO")) ParseInto();
  if (!IsKeyword("FROM")) Expected("FROM keyword expected, instead found '");
  NextToken();
  ParseFrom();
  if (IsKeyword("WHERE")) {
    flags_.where = true;
    NextToken();
    ParseCondition();
  }
  if (IsKeyword("GROUP")) {
    NextToken();
    if (!IsKeyword("BY")) Expected("BY keyword expected after GROUP keyword, instead found '");
    flags_.grouped = true;
    NextToken();
    ParseColumnList(false);
  }
  if (IsKeyword("ORDER")) {
    NextToken();
    if (!IsKeyword("BY")) Expected("BY keyword expected after ORDER keyword, instead found '");
    flags_.order_by = true;
    NextToken();
    ParseColumnList(true);
  }
  if (IsKeyword("WITH")) {
    NextToken();
    if (!IsKeyword("LOCKS")) Expected("LOCKS keyword expected after WITH keyword, instead found '");
    with_locks_ = true;
    NextToken();
  }
  if (!IsTokenType(kTokenEnd)) Expected("End of SELECT statement expected, instead found '");
}

void TDataQuery::ParseSelectItems() {
  while (true) {
    TResultDataField* column = columns_.Add(std::make_unique<TResultDataField>(this));
    ParseSelectItem(*column);
    const bool as = IsKeyword("AS");
    if (as) {
      NextToken();
      if (!IsName(lexer_.TokenType())) {
        Expected("Symbol or string expected after AS keyword, instead found '");
      }
    }
    if (as || (IsName(lexer_.TokenType()) && !IsKeyword("INTO") && !IsKeyword("FROM"))) {
      column->result_name_ = ShortString(lexer_.TokenValue());
      NextToken();
      if (IsTokenType('.')) {
        NextToken();
        if (!IsName(lexer_.TokenType())) {
          Expected("Symbol or string expected after table correlation name, instead found '");
        }
        column->result_name_ = ShortString(lexer_.TokenValue());
        NextToken();
      }
    }
    if (!IsTokenType(',')) break;
    NextToken();
  }
}

void TDataQuery::ParseInto() {
  flags_.live_requested = false;
  NextToken();
  if (IsKeyword("MEMORY")) {
    flags_.in_memory_result = true;
    NextToken();
    if (!IsName(lexer_.TokenType())) {
      Expected("Result table name expected in INTO MEMORY clause, instead found '");
    }
  } else if (!IsName(lexer_.TokenType())) {
    Expected("Result table name expected in INTO clause, instead found '");
  }
  // An empty quoted name ('' or "") names no table.
  if (lexer_.TokenValue().empty()) {
    Expected(flags_.in_memory_result
                 ? "Result table name expected in INTO MEMORY clause, instead found '"
                 : "Result table name expected in INTO clause, instead found '");
  }
  result_table_name_ = lexer_.TokenValue();
  NextToken();
}

TSourceDataFile* TDataQuery::NewSource(JoinKind kind, bool in_memory) {
  auto source = std::make_unique<TSourceDataFile>(this);
  source->in_memory_ = in_memory;
  source->join_kind_ = kind;
  source->from_sequence_ = ++from_sequence_;
  source->SetTableName(lexer_.TokenValue());
  // A right join's table leads the join: it goes to the front.
  if (kind == JoinKind::kRight) return sources_.Insert(0, std::move(source));
  return sources_.Add(std::move(source));
}

void TDataQuery::CheckDuplicateCorrelation(const TSourceDataFile& source) {
  for (std::int32_t i = 0; i < sources_.Count(); ++i) {
    const TSourceDataFile* other = sources_.Get(i);
    if (other != &source && SameAnsiText(other->correlation_name_, source.correlation_name_)) {
      SqlError("Duplicate table correlation name '" + source.correlation_name_ + "'" +
               " found in source tables");
    }
  }
}

void TDataQuery::ParseFrom() {
  // Words that end a FROM item instead of naming it. FULL is among them so
  // that "a FULL JOIN b" is refused rather than read as an inner join of a
  // table called FULL.
  static constexpr const char* kNotCorrelation[] = {"LEFT",  "RIGHT",  "INNER", "JOIN", "WHERE",
                                                    "ORDER", "GROUP", "HAVING", "WITH", "FULL"};
  // Correlation names seen so far, upper-cased: a statement with many
  // tables is checked in linear time.
  std::unordered_set<std::string> seen;
  auto check_duplicate = [&](const TSourceDataFile& source) {
    if (!seen.insert(platform::AnsiUpperCase(source.correlation_name_)).second) {
      CheckDuplicateCorrelation(source);
    }
  };
  std::int32_t item = 0;
  while (true) {
    ++item;
    bool in_memory = false;
    if (IsKeyword("MEMORY")) {
      in_memory = true;
      NextToken();
    }
    if (!IsName(lexer_.TokenType())) {
      Expected("Symbol or string expected after FROM keyword, instead found '");
    }
    TSourceDataFile* source = NewSource(JoinKind::kNone, in_memory);
    source->from_item_ = item;
    NextToken();
    if (IsTokenType(kTokenIdentifier)) {
      bool reserved = false;
      for (const char* word : kNotCorrelation) reserved = reserved || IsKeyword(word);
      if (!reserved) {
        source->correlation_name_ = TokenText();
        NextToken();
      }
    }
    check_duplicate(*source);
    while (true) {
      JoinKind kind;
      if (IsKeyword("JOIN")) {
        kind = JoinKind::kInner;
      } else if (IsKeyword("INNER")) {
        kind = JoinKind::kInner;
        NextToken();
        if (!IsKeyword("JOIN")) Expected("JOIN keyword expected after INNER keyword, instead found '");
      } else if (IsKeyword("LEFT") || IsKeyword("RIGHT")) {
        const bool left = IsKeyword("LEFT");
        kind = left ? JoinKind::kLeft : JoinKind::kRight;
        NextToken();
        if (IsKeyword("OUTER")) NextToken();
        if (!IsKeyword("JOIN")) {
          Expected(left ? "JOIN keyword expected after LEFT or OUTER keyword, instead found '"
                        : "JOIN keyword expected after RIGHT or OUTER keyword, instead found '");
        }
      } else if (IsKeyword("FULL")) {
        SqlError("Full outer joins are currently not supported in Tolmid SQL SELECT statements");
      } else {
        break;
      }
      flags_.join = true;
      NextToken();
      if (!IsName(lexer_.TokenType())) {
        Expected("Symbol or string expected after JOIN keyword, instead found '");
      }
      TSourceDataFile* joined = NewSource(kind, false);
      NextToken();
      if (IsTokenType(kTokenIdentifier) && !IsKeyword("ON")) {
        joined->correlation_name_ = TokenText();
        NextToken();
      }
      joined->from_item_ = item;
      check_duplicate(*joined);
      if (!IsKeyword("ON")) Expected("ON keyword expected in JOIN clause, instead found '");
      NextToken();
      on_source_ = joined->from_sequence_;
      ParseCondition(static_cast<std::uint8_t>(kind));
      on_source_ = 0;
    }
    if (!IsTokenType(',')) break;
    flags_.join = true;
    NextToken();
  }
}

void TDataQuery::ParseColumnList(bool order_by) {
  const char* message =
      order_by ? "Column name or column number expected in ORDER BY clause, instead found '"
               : "Column name or column number expected in GROUP BY clause, instead found '";
  while (true) {
    TGroupByDataField* item;
    if (order_by) {
      item = order_by_.Add(std::make_unique<TOrderByDataField>(this));
    } else {
      item = group_by_.Add(std::make_unique<TGroupByDataField>(this));
    }
    if (IsTokenType(kTokenInteger)) {
      int number = 0;
      if (!fw::TryStrToInt(std::string(lexer_.TokenSpan()), number)) {
        SqlError("'" + TokenText() + "' is not a valid integer value");
      }
      item->by_number_ = true;
      item->column_number_ = number;
      NextToken();
    } else if (IsName(lexer_.TokenType())) {
      item->column_name_ = ShortString(lexer_.TokenValue());
      NextToken();
      if (IsTokenType('.')) {
        NextToken();
        if (!IsName(lexer_.TokenType())) Expected(message);
        item->correlation_name_ = item->column_name_;
        item->column_name_ = ShortString(lexer_.TokenValue());
        NextToken();
      }
    } else {
      Expected(message);
    }
    if (order_by) {
      auto* ordered = static_cast<TOrderByDataField*>(item);
      if (IsKeyword("ASC") || IsKeyword("ASCENDING")) {
        NextToken();
      } else if (IsKeyword("DESC") || IsKeyword("DESCENDING")) {
        ordered->descending_ = true;
        NextToken();
      }
    }
    if (!IsTokenType(',')) break;
    NextToken();
  }
}

}  // namespace sql
