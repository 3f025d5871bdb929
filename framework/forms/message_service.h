// The one road of every message box: MessageDlg, ShowMessage,
// TApplication::MessageBox and the exception box all build a
// TMessageRequest and hand it to the current TMessageService. The Qt
// service shows a modal box; a test installs a scripted service that
// records the requests and answers them.
//
// Captions and button texts live here and nowhere else.
#pragma once

#include <string>
#include <vector>

namespace fw {

// Modal results, as forms and message boxes return them.
using TModalResult = int;
inline constexpr TModalResult mrNone = 0;
inline constexpr TModalResult mrOk = 1;
inline constexpr TModalResult mrCancel = 2;
inline constexpr TModalResult mrAbort = 3;
inline constexpr TModalResult mrRetry = 4;
inline constexpr TModalResult mrIgnore = 5;
inline constexpr TModalResult mrYes = 6;
inline constexpr TModalResult mrNo = 7;
inline constexpr TModalResult mrAll = 8;
inline constexpr TModalResult mrNoToAll = 9;
inline constexpr TModalResult mrYesToAll = 10;

enum class TMsgDlgType { mtWarning, mtError, mtInformation, mtConfirmation, mtCustom };
enum class TMsgDlgBtn { mbYes, mbNo, mbOK, mbCancel, mbAbort, mbRetry, mbIgnore, mbAll, mbNoToAll, mbYesToAll, mbHelp };

struct TMessageRequest {
  TMsgDlgType type = TMsgDlgType::mtInformation;
  std::string caption;
  std::string text;
  std::vector<TMsgDlgBtn> buttons;  // in the order shown
  TMsgDlgBtn default_button = TMsgDlgBtn::mbOK;
  // The result when the box is closed without a button (Escape, close box).
  TModalResult escape_result = mrCancel;
};

class TMessageService {
 public:
  virtual ~TMessageService() = default;
  // Shows the request and returns the modal result of the button chosen.
  virtual TModalResult Ask(const TMessageRequest& request) = 0;
};

// The current service (the Qt one unless a test replaced it).
TMessageService& MessageService();
// Installs service (nullptr: the Qt one again); returns the one replaced.
TMessageService* SetMessageService(TMessageService* service);

const char* ButtonText(TMsgDlgBtn button);   // "&Yes", "OK", ...
TModalResult ButtonResult(TMsgDlgBtn button);  // mrYes, mrOk, ...
const char* DialogCaption(TMsgDlgType type);   // "Confirm", "Information", ...

}  // namespace fw
