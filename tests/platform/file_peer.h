// The command set of a second process holding its own platform::File
// handles (testsupport::ForkedPeer); each reply is "ok" or "err <code>":
//   open <slot> <path> <r|rw> <none|rw> <existing|always|new>
//   lock|unlock <slot> <offset> <length>   close <slot>   delete <path>
//   move <from> <to>   ro (read handles on read-only descriptors from now on)
#pragma once

#include <map>
#include <memory>
#include <sstream>
#include <string>

#include "platform/file.h"
#include "tests/common/forked_peer.h"

namespace platform {

inline std::function<std::string(const std::string&)> FileCommands() {
  auto files = std::make_shared<std::map<int, File>>();
  return [files](const std::string& line) {
    std::istringstream is(line);
    std::string cmd, a, b, c, d;
    int slot = 0;
    std::uint64_t off = 0, len = 0;
    is >> cmd;
    bool ok = true;
    if (cmd == "open" && is >> slot >> a >> b >> c >> d) {
      ok = (*files)[slot].Open(a, b == "rw" ? Access::ReadWrite : Access::Read,
                               c == "none" ? Share::None : Share::ReadWrite,
                               d == "always" ? Disposition::CreateAlways
                               : d == "new"  ? Disposition::CreateNew
                                             : Disposition::OpenExisting);
    } else if ((cmd == "lock" || cmd == "unlock") && is >> slot >> off >> len) {
      ok = cmd == "lock" ? (*files)[slot].LockFile(off, len) : (*files)[slot].UnlockFile(off, len);
    } else if (cmd == "close" && is >> slot) {
      (*files)[slot].Close();
    } else if (cmd == "delete" && is >> a) {
      ok = DeleteFile(a);
    } else if (cmd == "move" && is >> a >> b) {
      ok = MoveFile(a, b);
    } else if (cmd == "ro") {
      internal::SetPreferReadOnlyDescriptors(true);
    } else {
      return std::string("bad command");
    }
    return ok ? std::string("ok") : "err " + std::to_string(GetLastError());
  };
}

inline std::string Err(std::uint32_t code) { return "err " + std::to_string(code); }

}  // namespace platform
