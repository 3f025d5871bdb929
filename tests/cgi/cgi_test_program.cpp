// A small CGI program on THttpCGIEngine, run by the tests directly (with a
// prepared environment and standard input) and behind lighttpd. What it does
// is chosen by PATH_INFO; it keeps its temporary and session files in the
// folder "tmp" beside the program (SCRIPT_FILENAME), and ends the way a
// console CGI program of the engine does: main returns and the unit's end
// sends the response and ends the process.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "cgi/http_engine.h"

namespace {

std::string Dir(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

}  // namespace

int main(int, char** argv) {
  cgi::SetConsoleProgram(true);
  // Owned by nobody: the unit's end still needs it after main returns.
  auto* engine = new cgi::THttpCGIEngine(nullptr);
  const char* script = std::getenv("SCRIPT_FILENAME");
  const std::string tmp = Dir(script != nullptr ? script : argv[0]) + "/tmp";
  engine->SetTempDir(tmp);
  engine->CGISession().SetEncryptionKey("session-key-for-tests");
  const std::string op = engine->PathInfo();

  if (op == "/stall") {
    // Tell the test who we are, then read the body the client never ends.
    std::ofstream(tmp + "/stall.pid") << ::getpid() << "\n";
  }
  const bool ok = engine->PrepareRequest();
  if (!ok) {
    engine->Write("refused: " + engine->RequestError());
    return 0;
  }

  if (op == "/vars") {
    engine->WriteLn("method=" + engine->RequestMethod());
    engine->WriteLn("query=" + engine->QueryString());
    engine->WriteLn("script=" + engine->ScriptName());
    engine->WriteLn("path_info=" + engine->PathInfo());
    engine->WriteLn("content_type=" + engine->ContentType());
    engine->WriteLn("content_length=" + std::to_string(engine->ContentLength()));
    engine->WriteLn("user_agent=" + engine->UserAgent());
    engine->WriteLn("remote_addr=" + engine->RemoteAddr());
    engine->WriteLn("server_port=" + engine->ServerPort());
    engine->WriteLn("protocol=" + engine->ServerProtocol());
    engine->WriteLn("software=" + engine->ServerSoftware());
    engine->WriteLn("has_authorization=" +
                    std::string(engine->GetServerVariable("HTTP_AUTHORIZATION").empty() ? "no" : "yes"));
    engine->WriteLn("auth_user=" + engine->AuthUser());
    engine->WriteLn("auth_password=" + engine->AuthPassword());
    engine->WriteLn("cookie_a=" + engine->GetCookie("a"));
    engine->WriteLn("cookie_b=" + engine->GetCookie("b"));
    auto names = engine->GetFieldNames();
    for (int i = 0; i < names->Count(); ++i) {
      engine->WriteLn("field " + names->Get(i) + "=" + engine->GetField(names->Get(i)));
    }
    for (const auto& up : engine->Uploads()) {
      std::ifstream in(up.temp_path, std::ios::binary);
      std::stringstream content;
      content << in.rdbuf();
      engine->WriteLn("upload " + up.field_name + " name=" + up.file_name + " type=" + up.content_type +
                      " size=" + std::to_string(up.size) + " content=" + content.str());
    }
  } else if (op == "/redirect") {
    engine->SetHeader("HTTP/1.1 302 Found", "");
    engine->SetHeader("Location", "http://127.0.0.1/elsewhere");
  } else if (op == "/headers") {
    engine->SetHeader("HTTP/1.0 201 Created", "");
    engine->SetHeader("X-Test", "value 1");
    engine->Write("created");
  } else if (op == "/download") {
    engine->SetFileHeaders("text/plain", "C:\\reports\\list \"1\".txt");
    engine->Write("line 1\r\nline 2\r\n");
  } else if (op == "/nocache") {
    engine->SetNoCache(true);
    engine->Write("fresh");
  } else if (op == "/inject") {
    try {
      engine->SetHeader("X-Bad", "a\r\nSet-Cookie: evil=1");
      engine->Write("accepted");
    } catch (const cgi::EHttpEngineError& e) {
      engine->Write(std::string("refused: ") + e.what());
    }
  } else if (op == "/session-set") {
    engine->SetSessionVariable(engine->GetField("name"), engine->GetField("value"));
    engine->WriteLn("id=" + engine->SessionID());
    engine->WriteLn("file=" + engine->SessionFileName());
  } else if (op == "/session-get") {
    engine->WriteLn("value=" + engine->GetSessionVariable(engine->GetField("name")));
    engine->WriteLn("id=" + engine->SessionID());
  } else if (op == "/debug") {
    engine->SetDebugMode(cgi::TDebugMode::DebugAlways);
    engine->SetDebugLevel(1);
    engine->UserLog("a line for the log");
    engine->Write("page");
  } else if (op == "/stall") {
    engine->Write("not reached");
  } else {
    engine->Write("hello from the engine");
  }
  return 0;
}
