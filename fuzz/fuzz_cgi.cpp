// Feeds fuzzed CGI requests to the request engine and its parsers.
//
// Input layout: server variables as lines NAME=value up to the first empty
// line ("\n\n"), then the request body. The first byte of the body also
// picks where the multipart parser's input is split.
#include <stdlib.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "cgi/http_engine.h"
#include "cgi/request_parser.h"
#include "cgi/session_store.h"

namespace {

class NullSink : public fw::TStream {
 public:
  std::int64_t Read(void*, std::int64_t) override { return 0; }
  std::int64_t Write(const void*, std::int64_t count) override { return count; }
  std::int64_t Seek(std::int64_t, fw::TSeekOrigin) override { return 0; }
  void SetSize(std::int64_t) override {}
};

const std::string& TempDir() {
  static const std::string dir = [] {
    char templ[] = "/tmp/fuzz_cgi_XXXXXX";
    const char* made = ::mkdtemp(templ);
    return std::string(made != nullptr ? made : "/tmp");
  }();
  return dir;
}

void FuzzParsers(std::string_view env, std::string_view body) {
  cgi::TNameValueList pairs;
  cgi::ParseUrlEncoded(body, pairs);
  cgi::ParseCookies(env, pairs);
  std::string user, password, decoded;
  (void)cgi::DecodeBasicAuthorization(env, user, password);
  (void)cgi::UrlDecode(body, decoded, cgi::TDecodeMode::kBinary);
  cgi::THeaderParams params;
  (void)cgi::ParseHeaderParams(env, params);
  (void)cgi::IsStatusLine(env);

  // Multipart with a fixed boundary, fed in two pieces.
  cgi::TMultipartParser parser("b");
  std::size_t data_bytes = 0;
  parser.on_part_data = [&](std::string_view d) {
    data_bytes += d.size();
    return true;
  };
  const std::size_t cut = body.empty() ? 0 : static_cast<unsigned char>(body[0]) % (body.size() + 1);
  if (parser.Feed(body.data(), cut) == cgi::TMultipartStatus::kOk) {
    parser.Feed(body.data() + cut, body.size() - cut);
  }
  parser.Finish();
  if (data_bytes > body.size()) __builtin_trap();  // data can only come from the input

  // The URL-encoded parser gives the same fields fed whole or in two pieces.
  cgi::TFormFields whole;
  cgi::TFormFields split;
  {
    cgi::TUrlEncodedParser p(whole);
    p.Feed(body);
    p.Finish();
  }
  {
    cgi::TUrlEncodedParser p(split);
    p.Feed(body.substr(0, cut));
    p.Feed(body.substr(cut));
    p.Finish();
  }
  if (whole.Count() != split.Count()) __builtin_trap();
  for (std::size_t i = 0; i < whole.Count(); ++i) {
    if (whole.Name(i) != split.Name(i) || whole.Value(i) != split.Value(i)) __builtin_trap();
    if (!cgi::IsValidFieldName(whole.Name(i))) __builtin_trap();
    if (whole.Find(whole.Name(i)).value_or(i + 1) > i) __builtin_trap();  // found, at or before i
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::size_t split = input.find("\n\n");
  const std::string_view env = input.substr(0, split);
  const std::string_view body = split == std::string_view::npos ? std::string_view() : input.substr(split + 2);
  FuzzParsers(env, body);

  fw::TStringList vars;
  std::size_t pos = 0;
  while (pos <= env.size() && !env.empty()) {
    const std::size_t eol = env.find('\n', pos);
    vars.Add(std::string(env.substr(pos, eol - pos)));
    if (eol == std::string_view::npos) break;
    pos = eol + 1;
  }
  cgi::THttpCGIEngine engine(nullptr);
  engine.SetCGIAutoTerminate(false);
  engine.SetTempDir(TempDir());
  engine.SetAutoReadLimit(1 << 20);
  engine.CGISession().SetFileBased(false);
  engine.SetServerVariables(vars);
  auto in = std::make_unique<fw::TMemoryStream>();
  if (!body.empty()) in->WriteBuffer(body.data(), static_cast<std::int64_t>(body.size()));
  in->SetPosition(0);
  engine.SetRequestStreams(std::move(in), std::make_unique<NullSink>());
  if (engine.PrepareRequest()) {
    auto names = engine.GetFieldNames();
    for (int i = 0; i < names->Count(); ++i) engine.Write(engine.GetField(names->Get(i)));
    engine.Write(engine.GetCookie("a"));
    engine.Write(engine.AuthUser() + engine.AuthPassword());
    try {
      engine.SetSessionVariable("v", engine.GetField("v"));
      engine.SetHeader("X-Fuzz", engine.GetField("h"));
    } catch (const fw::Exception&) {
      // refused names and header values
    }
  }
  engine.EndRequest();
  cgi::SessionEnd("", true);  // in-memory sessions would pile up across runs
  return 0;
}
