// Request parsing on its own: URL coding, form bodies, cookies, Basic
// authorization, header checks and the streaming multipart parser fed in
// pieces split at odd offsets.
#include <gtest/gtest.h>

#include <optional>
#include <random>
#include <string>

#include "cgi/request_parser.h"

namespace cgi {
namespace {

struct DecodeCase {
  bool ok;
  const char* in;
  const char* out;  // nullptr when refused
};

TEST(RequestParserTest, UrlDecodeTable) {
  const DecodeCase cases[] = {
      {true, "", ""}, {true, "foo", "foo"}, {true, "-_foo%2bbar.-", "-_foo+bar.-"}, {true, "a+b", "a b"},
      {true, "%41%42%43", "ABC"}, {true, "%e9t%C3%A9", "\xe9t\xc3\xa9"}, {true, "100%25", "100%"},
      {false, "foo%", nullptr}, {false, "foo%2", nullptr}, {false, "foo%zz", nullptr}, {false, "%g0", nullptr},
      {false, "%0g", nullptr},
      {false, "nil%00byte", nullptr},  // no NUL may reach a field
      {false, "%", nullptr}, {false, "%%41", nullptr},
  };
  for (const auto& c : cases) {
    std::string out;
    EXPECT_EQ(UrlDecode(c.in, out), c.ok) << c.in;
    if (c.ok) {
      EXPECT_EQ(out, c.out) << c.in;
    }
  }
  std::string raw_nul("a\0b", 3);
  std::string out;
  EXPECT_FALSE(UrlDecode(raw_nul, out));
  // Session records are binary: there a NUL byte is data.
  ASSERT_TRUE(UrlDecode("a%00b", out, TDecodeMode::kBinary));
  EXPECT_EQ(out, std::string("a\0b", 3));
  EXPECT_FALSE(UrlDecode("a%0", out, TDecodeMode::kBinary));
}

TEST(RequestParserTest, UrlAndBase64EncodingKeepTheSafeSetAndRoundTrip) {
  EXPECT_EQ(UrlEncode("a b&c"), "a+b%26c");
  EXPECT_EQ(UrlEncode("./\\AZaz09"), "./\\AZaz09");
  EXPECT_EQ(UrlEncode(std::string("\0\xff-_~+", 6)), "%00%FF%2D%5F%7E%2B");
  std::mt19937 rng(7);
  for (int i = 0; i < 200; ++i) {
    std::string s(rng() % 50, '\0'), back, back64;
    for (auto& c : s) c = static_cast<char>(rng());
    ASSERT_TRUE(UrlDecode(UrlEncode(s), back, TDecodeMode::kBinary));
    ASSERT_TRUE(Base64Decode(Base64Encode(s), back64));
    ASSERT_EQ(back, s);
    ASSERT_EQ(back64, s);
  }
}

TEST(RequestParserTest, UrlEncodedFormsTable) {
  struct Case {
    const char* in;
    TNameValueList fields;
    std::size_t dropped;
  };
  const Case cases[] = {
      {"", {}, 0}, {"a=1", {{"a", "1"}}, 0}, {"a=1&b=2;c=3", {{"a", "1"}, {"b", "2"}, {"c", "3"}}, 0},
      {"a=&b", {{"a", ""}, {"b", ""}}, 0}, {"&&a=1&&", {{"a", "1"}}, 0}, {"x=a%3Db", {{"x", "a=b"}}, 0},
      {"first+name=J%C3%B6rg+M", {{"first name", "J\xc3\xb6rg M"}}, 0},
      {"a=%zz&b=2", {{"b", "2"}}, 1},         // a bad escape drops its pair
      {"a%3Db=1&c=2", {{"c", "2"}}, 1},        // "=" in a name
      {"=v&c=2", {{"c", "2"}}, 1},             // empty name
      {"n=%00&c=2", {{"c", "2"}}, 1},          // NUL
      {"a%0Ab=1", {}, 1},                      // control character in a name
      {"v=line1%0D%0Aline2", {{"v", "line1\r\nline2"}}, 0}, {"a=1=2", {{"a", "1=2"}}, 0},
  };
  // The streaming parser gives the same fields however the text is cut:
  // at every offset into two pieces, and byte by byte.
  auto parse_in_pieces = [](std::string_view text, std::vector<std::size_t> cuts, std::size_t& dropped) {
    TFormFields parsed;
    TUrlEncodedParser parser(parsed);
    std::size_t at = 0;
    cuts.push_back(text.size());
    for (std::size_t cut : cuts) {
      parser.Feed(text.substr(at, cut - at));
      at = cut;
    }
    parser.Finish();
    dropped = parser.Dropped();
    TNameValueList fields;
    for (std::size_t i = 0; i < parsed.Count(); ++i) fields.emplace_back(parsed.Name(i), parsed.Value(i));
    return fields;
  };
  for (const auto& c : cases) {
    TNameValueList fields;
    EXPECT_EQ(ParseUrlEncoded(c.in, fields), c.dropped) << c.in;
    EXPECT_EQ(fields, c.fields) << c.in;
    const std::string_view in(c.in);
    std::vector<std::size_t> every;
    for (std::size_t cut = 0; cut <= in.size(); ++cut) {
      std::size_t dropped = 0;
      EXPECT_EQ(parse_in_pieces(in, {cut}, dropped), c.fields) << c.in << " cut at " << cut;
      EXPECT_EQ(dropped, c.dropped) << c.in << " cut at " << cut;
      every.push_back(cut);
    }
    std::size_t dropped = 0;
    EXPECT_EQ(parse_in_pieces(in, every, dropped), c.fields) << c.in << " byte by byte";
  }
  TNameValueList fields;
  EXPECT_EQ(ParseUrlEncoded("n=" + std::string(300, 'x') + "&" + std::string(300, 'y') + "=1", fields), 1u);
  EXPECT_EQ(fields.size(), 1u);

  // The field cap stops the parser at the first field past it.
  TFormFields capped;
  TUrlEncodedParser parser(capped, 2);
  EXPECT_TRUE(parser.Feed("a=1&b=2&"));
  EXPECT_FALSE(parser.Feed("c=3&d=4"));
  EXPECT_TRUE(parser.TooManyFields());
  EXPECT_EQ(capped.Count(), 2u);
}

// TFormFields against a model: fields added whole or in pieces (some
// dropped), looked up by name without regard to case (the first of a name
// wins), with values large enough to move the byte area.
TEST(RequestParserTest, FormFieldsAgainstAModel) {
  std::mt19937 rng(11);
  const char* const kNames[] = {"a", "A", "ab", "aB", "Ab", "name", "NAME", "x_1", "x-1", "zz"};
  TNameValueList model;
  TFormFields fields;
  auto lower = [](std::string s) {
    for (auto& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
  };
  auto check = [&] {
    ASSERT_EQ(fields.Count(), model.size());
    for (const char* probe : kNames) {
      std::optional<std::size_t> expected;
      for (std::size_t i = 0; i < model.size() && !expected; ++i) {
        if (lower(model[i].first) == lower(probe)) expected = i;
      }
      ASSERT_EQ(fields.Find(probe), expected) << probe;
    }
    for (std::size_t i = 0; i < model.size(); ++i) {
      ASSERT_EQ(fields.Name(i), model[i].first);
      ASSERT_EQ(fields.Value(i), model[i].second);
    }
  };
  for (int round = 0; round < 300; ++round) {
    const std::string name = kNames[rng() % std::size(kNames)];
    std::string value(rng() % 8 == 0 ? rng() % 300000 : rng() % 20, '\0');
    for (auto& c : value) c = static_cast<char>('a' + rng() % 26);
    switch (rng() % 3) {
      case 0:
        fields.Add(name, value);
        model.emplace_back(name, value);
        break;
      case 1: {  // in pieces
        fields.BeginField();
        fields.Append(name);
        fields.EndName();
        for (std::size_t at = 0; at < value.size(); at += 7000) fields.Append(std::string_view(value).substr(at, 7000));
        fields.CommitField();
        model.emplace_back(name, value);
        break;
      }
      default:  // begun, then dropped: leaves nothing behind
        fields.BeginField();
        fields.Append(name);
        fields.EndName();
        fields.Append(value);
        fields.DropField();
        break;
    }
    if (round % 10 == 0) check();
  }
  check();
  fields.Clear();
  EXPECT_EQ(fields.Count(), 0u);
  EXPECT_EQ(fields.Find("a"), std::nullopt);
}

TEST(RequestParserTest, CookiesTable) {
  struct Case {
    const char* in;
    TNameValueList cookies;
    std::size_t dropped;
  };
  const Case cases[] = {
      {"", {}, 0}, {"a=1", {{"a", "1"}}, 0}, {"a=1; b=2;c=3", {{"a", "1"}, {"b", "2"}, {"c", "3"}}, 0},
      {"  a = \"quoted\" ;", {{"a", "quoted"}}, 0},
      {"id=abc%20def", {{"id", "abc%20def"}}, 0},  // not URL-decoded
      {"novalue; a=1", {{"a", "1"}}, 1}, {"bad name=1; a=1", {{"a", "1"}}, 1}, {"a=x\\y; b=\"un\"closed\"", {}, 2},
      {"a=\x01; b=2", {{"b", "2"}}, 1}, {"=1", {}, 1},
  };
  for (const auto& c : cases) {
    TNameValueList cookies;
    EXPECT_EQ(ParseCookies(c.in, cookies), c.dropped) << c.in;
    EXPECT_EQ(cookies, c.cookies) << c.in;
  }
}

TEST(RequestParserTest, BasicAuthorizationTable) {
  struct Case {
    std::string header;
    bool ok;
    const char* user;
    const char* password;
  };
  const Case cases[] = {
      {"Basic " + Base64Encode("user:pw"), true, "user", "pw"},
      {"basic   " + Base64Encode("Aladdin:open sesame"), true, "Aladdin", "open sesame"},
      {"BASIC " + Base64Encode(" u : p:q "), true, "u", "p:q"}, {"Basic " + Base64Encode(":"), true, "", ""},
      {"Basic " + Base64Encode("nocolon"), false, "", ""}, {"Bearer " + Base64Encode("user:pw"), false, "", ""},
      {Base64Encode("user:pw"), false, "", ""},  // no scheme word
      {"Basic dXNlcjpwdw", false, "", ""},        // missing padding
      {"Basic dXNl*jpwdw==", false, "", ""},      // not in the alphabet
      {"Basic dXNlcjpwdw=x", false, "", ""},      // "=" inside
      {"Basic " + Base64Encode(std::string("u\0x:pw", 6)), false, "", ""}, {"Basic ", false, "", ""},
  };
  for (const auto& c : cases) {
    std::string user = "stale";
    std::string password = "stale";
    EXPECT_EQ(DecodeBasicAuthorization(c.header, user, password), c.ok) << c.header;
    EXPECT_EQ(user, c.user) << c.header;
    EXPECT_EQ(password, c.password) << c.header;
  }
}

TEST(RequestParserTest, HeaderChecksRefuseResponseSplitting) {
  const std::pair<std::string, bool> names[] = {{"Content-Type", true},
                                                {"X-My_Header.1", true},
                                                {"HTTP/1.1 302 Found", true},
                                                {"HTTP/1.0 404", true},
                                                {"", false},
                                                {"Bad Name", false},
                                                {"X\r\nSet-Cookie", false},
                                                {"Name:", false},
                                                {"HTTP/1.1 302 Found\r\nX: y", false},
                                                {"HTTP/1.1 9999 x", false}};
  for (const auto& [name, ok] : names) { EXPECT_EQ(IsValidHeaderName(name), ok) << name; }
  const std::pair<std::string, bool> values[] = {
      {"text/html; charset=utf-8", true}, {"tab\there", true}, {"", true}, {"a\r\nSet-Cookie: x=1", false},
      {"a\nb", false}, {"a\rb", false}, {std::string("a\0b", 3), false}};
  for (const auto& [value, ok] : values) { EXPECT_EQ(IsValidHeaderValue(value), ok) << value; }
}

TEST(RequestParserTest, FileNamesAndQuoting) {
  EXPECT_EQ(LastPathPart("C:\\dir\\file.txt"), "file.txt");
  EXPECT_EQ(LastPathPart("../../etc/passwd"), "passwd");
  EXPECT_EQ(LastPathPart("dir/"), "");
  EXPECT_EQ(LastPathPart("plain"), "plain");
  EXPECT_EQ(QuoteString("a \"b\" \\c"), "\"a \\\"b\\\" \\\\c\"");
}

TEST(RequestParserTest, HeaderParams) {
  THeaderParams p;
  ASSERT_TRUE(ParseHeaderParams("Multipart/Form-Data; boundary=----abc123", p));
  EXPECT_EQ(p.value, "multipart/form-data");
  ASSERT_NE(p.Find("boundary"), nullptr);
  EXPECT_EQ(*p.Find("boundary"), "----abc123");
  ASSERT_TRUE(ParseHeaderParams("form-data; name=\"f\\\"x\"; FileName=\"a;b.txt\"", p));
  EXPECT_EQ(*p.Find("name"), "f\"x");
  EXPECT_EQ(*p.Find("filename"), "a;b.txt");
  EXPECT_FALSE(ParseHeaderParams("form-data; name=\"open", p));
  EXPECT_FALSE(ParseHeaderParams("form-data; name", p));
  EXPECT_FALSE(ParseHeaderParams("form-data; name=a b", p));
  EXPECT_TRUE(IsValidBoundary("----WebKitFormBoundary7MA4YWxkTrZu0gW"));
  EXPECT_FALSE(IsValidBoundary(""));
  EXPECT_FALSE(IsValidBoundary(std::string(71, 'a')));
  EXPECT_FALSE(IsValidBoundary("ends-in-blank "));
  EXPECT_FALSE(IsValidBoundary("semi;colon"));
}

TEST(RequestParserTest, HttpDates) {
  const std::pair<std::time_t, const char*> cases[] = {{784111777, "Sun, 06 Nov 1994 08:49:37 GMT"},
                                                       {0, "Thu, 01 Jan 1970 00:00:00 GMT"},
                                                       {951782400, "Tue, 29 Feb 2000 00:00:00 GMT"},
                                                       {-86400, "Wed, 31 Dec 1969 00:00:00 GMT"}};
  for (auto [t, text] : cases) { EXPECT_EQ(HttpDate(t), text); }
}

// Collects what the multipart parser reports.
struct Collected {
  std::vector<std::string> names, file_names, types, bodies;
};

TMultipartStatus ParseInPieces(const std::string& boundary, const std::string& body,
                               const std::vector<std::size_t>& cuts, Collected& got) {
  TMultipartParser parser(boundary);
  parser.on_part_begin = [&](const TMultipartParser::TPartInfo& info) {
    got.names.push_back(info.name);
    got.file_names.push_back(info.has_file_name ? "[" + info.file_name + "]" : "-");
    got.types.push_back(info.content_type);
    got.bodies.emplace_back();
    return true;
  };
  parser.on_part_data = [&](std::string_view data) {
    got.bodies.back().append(data);
    return true;
  };
  std::size_t pos = 0;
  for (std::size_t cut : cuts) {
    if (cut < pos || cut > body.size()) continue;
    TMultipartStatus s = parser.Feed(body.data() + pos, cut - pos);
    if (s != TMultipartStatus::kOk) return s;
    pos = cut;
  }
  TMultipartStatus s = parser.Feed(body.data() + pos, body.size() - pos);
  if (s != TMultipartStatus::kOk) return s;
  return parser.Finish();
}

const char kBoundary[] = "----b0undary";

std::string SampleBody() {
  std::string binary;
  for (int i = 0; i < 256; ++i) binary.push_back(static_cast<char>(i));
  binary += "\r\n------b0undar";  // almost a delimiter inside the data
  return std::string("preamble to ignore\r\n") +
         "------b0undary\r\n"
         "Content-Disposition: form-data; name=\"title\"\r\n"
         "\r\n"
         "Hello\r\nWorld\r\n"
         "------b0undary  \r\n"  // transport padding
         "content-disposition: form-data; name=\"upload\"; filename=\"C:\\\\tmp\\\\pic.gif\"\r\n"
         "Content-Type: image/gif\r\n"
         "X-Ignored: yes\r\n"
         "\r\n" +
         binary +
         "\r\n------b0undary\r\n"
         "Content-Disposition: form-data; name=\"empty\"\r\n"
         "\r\n"
         "\r\n------b0undary--\r\n"
         "epilogue\r\n";
}

TEST(MultipartParserTest, WholeAndSplitAtEveryOffset) {
  const std::string body = SampleBody();
  Collected whole;
  ASSERT_EQ(ParseInPieces(kBoundary, body, {}, whole), TMultipartStatus::kOk);
  ASSERT_EQ(whole.names, (std::vector<std::string>{"title", "upload", "empty"}));
  EXPECT_EQ(whole.file_names, (std::vector<std::string>{"-", "[pic.gif]", "-"}));
  EXPECT_EQ(whole.types[1], "image/gif");
  EXPECT_EQ(whole.bodies[0], "Hello\r\nWorld");
  EXPECT_EQ(whole.bodies[1].size(), 256u + 15u);
  EXPECT_EQ(whole.bodies[2], "");
  for (std::size_t cut = 0; cut <= body.size(); ++cut) {
    Collected got;
    ASSERT_EQ(ParseInPieces(kBoundary, body, {cut}, got), TMultipartStatus::kOk) << cut;
    ASSERT_EQ(got.bodies, whole.bodies) << cut;
    ASSERT_EQ(got.names, whole.names) << cut;
  }
  // One byte at a time.
  std::vector<std::size_t> every;
  for (std::size_t p = 0; p < body.size(); ++p) every.push_back(p);
  Collected bytewise;
  ASSERT_EQ(ParseInPieces(kBoundary, body, every, bytewise), TMultipartStatus::kOk);
  EXPECT_EQ(bytewise.bodies, whole.bodies);
}

TEST(MultipartParserTest, NoPreambleAndNoHeaders) {
  Collected got;
  EXPECT_EQ(ParseInPieces("b", "--b\r\n\r\nx\r\n--b--", {}, got), TMultipartStatus::kBadSyntax);
  Collected ok;
  EXPECT_EQ(ParseInPieces("b", "--b\r\nContent-Disposition: form-data; name=a\r\n\r\nx\r\n--b--", {}, ok),
            TMultipartStatus::kOk);
  EXPECT_EQ(ok.bodies, (std::vector<std::string>{"x"}));
}

TEST(MultipartParserTest, TruncatedAndHostileBodies) {
  const std::string body = SampleBody();
  const std::size_t close = body.find("------b0undary--");
  struct Case {
    std::string body;
    TMultipartStatus status;
  };
  const Case cases[] = {
      {"", TMultipartStatus::kTruncated}, {"no delimiter at all", TMultipartStatus::kTruncated},
      {body.substr(0, close), TMultipartStatus::kTruncated},
      {body.substr(0, close + 15), TMultipartStatus::kTruncated}, {body.substr(0, 60), TMultipartStatus::kTruncated},
      {"------b0undaryX\r\n", TMultipartStatus::kBadSyntax},
      {"------b0undary\r\nNo colon here\r\n\r\nx\r\n------b0undary--", TMultipartStatus::kBadSyntax},
      {"------b0undary\r\nContent-Disposition: attachment; name=a\r\n\r\nx\r\n------b0undary--",
       TMultipartStatus::kBadSyntax},
      {"------b0undary\r\nContent-Disposition: form-data\r\n\r\nx\r\n------b0undary--",
       TMultipartStatus::kBadSyntax},
      {"------b0undary\r\nContent-Disposition: form-data; name=\"a=b\"\r\n\r\nx\r\n------b0undary--",
       TMultipartStatus::kBadSyntax},
      {"------b0undary\r\nContent-Type: text/plain\r\n\r\nx\r\n------b0undary--", TMultipartStatus::kBadSyntax},
      {"------b0undary\r\nContent-Disposition: form-data; name=a\r\nContent-Disposition: form-data; "
       "name=b\r\n\r\nx\r\n------b0undary--",
       TMultipartStatus::kBadSyntax},
      {"------b0undary\r\nX: " + std::string(20000, 'a'), TMultipartStatus::kHeaderTooLong},
      {"------b0undary\r\nX: " + std::string(20000, 'a') + "\r\n\r\n", TMultipartStatus::kHeaderTooLong},
      {"------b0undary" + std::string(100, ' ') + "\r\n", TMultipartStatus::kBadSyntax},
  };
  for (const auto& c : cases) {
    Collected got;
    EXPECT_EQ(ParseInPieces(kBoundary, c.body, {}, got), c.status) << c.body.substr(0, 80);
    Collected split;
    EXPECT_EQ(ParseInPieces(kBoundary, c.body, {c.body.size() / 3, c.body.size() / 2 + 1}, split), c.status)
        << c.body.substr(0, 80);
  }
  // Too many parts.
  std::string many;
  for (std::size_t i = 0; i <= TMultipartParser::kMaxParts; ++i) {
    many += "--b\r\nContent-Disposition: form-data; name=a\r\n\r\n\r\n";
  }
  many += "--b--";
  Collected got;
  EXPECT_EQ(ParseInPieces("b", many, {}, got), TMultipartStatus::kTooManyParts);
}

}  // namespace
}  // namespace cgi
