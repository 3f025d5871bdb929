// Upload files: the temporary files that hold the file parts of a multipart
// body until the request ends, and what keeps them from being left behind
// by a request that never ends.
//
// Name: "upload-<pid>-XXXXXX" in the folder the engine stores uploads in
// (its TempDir), where <pid> is the decimal process ID of the program that
// stores the file and XXXXXX is made unique by mkostemp. The pid tells
// whose file it is; nothing else is needed to clean up.
//
// Who removes an upload file:
//   1. The request that stored it, when it ends (EndRequest or the freeing
//      of its state), whether it was answered or refused.
//   2. SIGTERM, which a web server sends a CGI program whose client aborted
//      (mid-upload, typically). While a request holds upload files
//      (TUploadFilesInUse) and SIGTERM still has its default action, the
//      engine's handler is in place: it removes every upload file of this
//      process and then ends the process by SIGTERM, as the default action
//      would have. It uses async-signal-safe calls only (open, getdents64,
//      unlinkat, sigaction, raise).
//      The engine never takes SIGTERM from a program that chose what it
//      does: a program that ignores it or handles it itself keeps its
//      disposition, since such a program may go on and still need the
//      files of its running request. A handler the program installs while
//      the engine's is in place stays; the engine only puts the default
//      back when it finds its own handler still there.
//   3. The watchdog, just before it ends an overrunning process.
//   4. The sweep: the first time a process stores an upload in a folder, it
//      removes the files there whose pid names no running process (left by
//      a program killed by SIGKILL, crashed, or whose own SIGTERM handler
//      ended it). A pid that has been reused keeps its files until that
//      process is gone too; files named otherwise are never touched. A
//      folder shared by programs in different pid namespaces (containers)
//      cannot tell their pids apart and must not be used.
//
// The handler finds the files through the folders this process has stored
// uploads in: up to kMaxUploadFolders of them are kept open for the life of
// the process. Files in further folders are left to the sweep.
#pragma once

#include <string>

namespace cgi {

inline constexpr char kUploadFilePrefix[] = "upload-";
inline constexpr int kMaxUploadFolders = 8;

// Gets folder ready to take upload files: the first time in this process,
// it opens the folder for the SIGTERM handler and sweeps it (see 4 above).
// Returns the template to give to mkostemp: folder + "/upload-<pid>-XXXXXX"
// ("./" stands for an empty folder).
std::string PrepareUploadFolder(const std::string& folder);

// Held by a request from before its first upload file is made until its
// upload files are removed; while one is held, the SIGTERM handler is in
// place when SIGTERM had its default action.
class TUploadFilesInUse {
 public:
  TUploadFilesInUse();
  ~TUploadFilesInUse();
  TUploadFilesInUse(const TUploadFilesInUse&) = delete;
  TUploadFilesInUse& operator=(const TUploadFilesInUse&) = delete;
};

// Removes every upload file of this process in the folders it has stored
// uploads in. Async-signal-safe; for a process that is about to end.
void RemoveUploadFilesOfThisProcess() noexcept;

}  // namespace cgi
