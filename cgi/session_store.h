// The session-variable store: sessions kept in a process-wide list and, when
// file based, in one session file each.
//
// Session file layout: one record per variable line ("name=value"), in list
// order:
//
//   UrlEncode(BlowfishEncryptString(0x01 + line))   enciphered in CFB-64 with
//                                                   the session's key and the
//                                                   default initial block
//   0x00                                            end of the record
//
// The file's modification time is the session's expiry. A session with no
// expiry gets the modification time 1970-01-01 00:00:00 UTC (0), which a
// real expiry never is, so that it is not read back as an expired session.
//
// Lock rule: the list and every session in it are guarded by SessionLock();
// file I/O runs outside it on copies.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

#include "framework/sync.h"

namespace cgi {

struct TSessionData {
  std::string key;                     // list key: session name and id
  std::vector<std::string> variables;  // "name=value" lines
  std::int64_t expiry = 0;             // seconds since 1970 UTC; 0 = none
};

// The calling thread's current session.
struct TThreadSession {
  std::string key;        // "" = no session
  std::string file_name;  // "" when not file based
  bool file_based = false;
  bool saved = true;
};

fw::TCriticalSection& SessionLock();
TThreadSession& ThreadSession();

// Largest session file read back; bigger files count as damaged.
inline constexpr std::int64_t kMaxSessionFileSize = 1 << 20;

// Makes key the thread's session when a live session stands behind it: an
// unexpired entry in the list or, with a file name and no entry yet, a file
// that reads back (LoadSessionFile) and has not expired. Otherwise returns
// false and leaves the thread without a session; an expired session met on
// the way is dropped from the list and its file removed. A damaged file is
// left as it is.
[[nodiscard]] bool OpenLiveSession(const std::string& key, const std::string& file_name,
                                   const std::string& encryption_key);

// Makes key the thread's session, live (OpenLiveSession) or else a new,
// empty one.
void OpenSession(const std::string& key, const std::string& file_name, const std::string& encryption_key);

// Reads a session file back. Returns false for a missing, damaged or foreign
// file (bad URL encoding, a record that does not decipher to 0x01 + a
// name=value line); expiry gets the file's time (0 = none).
[[nodiscard]] bool LoadSessionFile(const std::string& file_name, const std::string& encryption_key,
                                   std::vector<std::string>& variables, std::int64_t& expiry);

// Writes the thread's session to its file (through a temporary file of a
// unique name in the same folder, renamed over it) and marks it saved. Nothing happens when the session is not in
// the list. Raises fw::EFCreateError / fw::EWriteError on file errors.
void SaveSessionVariables(const std::string& encryption_key);

// Saves the thread's session when file based and not yet saved, then
// forgets it for this thread; free_list also empties the process's list.
void SessionEnd(const std::string& encryption_key, bool free_list);

// Variables of the thread's session (under the lock). A session past its
// expiry reads as empty; the next OpenSession of it empties it for good.
std::string GetSessionVariable(const std::string& name);
// An empty value removes the variable. Refuses (returns false) names that
// are not valid field names.
bool SetSessionVariable(const std::string& name, const std::string& value);
std::vector<std::string> SessionVariables();
void ClearSessionVariables();

// The expiry of the thread's session in seconds since 1970 UTC, 0 for none
// (or no session).
std::int64_t SessionExpires();
void SetSessionExpires(std::int64_t unix_seconds);
// True when the session has an expiry and it has passed.
bool SessionExpired();

}  // namespace cgi
