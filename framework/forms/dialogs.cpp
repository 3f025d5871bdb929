#include "framework/forms/dialogs.h"

#include <algorithm>

#include "framework/forms/application.h"

namespace fw {

namespace {

bool Has(const std::vector<TMsgDlgBtn>& v, TMsgDlgBtn b) { return std::find(v.begin(), v.end(), b) != v.end(); }

}  // namespace

TMessageRequest MessageDlgRequest(const std::string& message, TMsgDlgType type,
                                  std::initializer_list<TMsgDlgBtn> buttons) {
  TMessageRequest r;
  r.type = type;
  r.caption = type == TMsgDlgType::mtCustom ? ApplicationTitle() : DialogCaption(type);
  r.text = message;
  r.buttons.assign(buttons.begin(), buttons.end());
  std::sort(r.buttons.begin(), r.buttons.end());
  r.buttons.erase(std::unique(r.buttons.begin(), r.buttons.end()), r.buttons.end());
  if (r.buttons.empty()) r.buttons.push_back(TMsgDlgBtn::mbOK);
  r.default_button = Has(r.buttons, TMsgDlgBtn::mbOK)    ? TMsgDlgBtn::mbOK
                     : Has(r.buttons, TMsgDlgBtn::mbYes) ? TMsgDlgBtn::mbYes
                                                         : r.buttons.front();
  r.escape_result = Has(r.buttons, TMsgDlgBtn::mbCancel) ? mrCancel
                    : Has(r.buttons, TMsgDlgBtn::mbNo)   ? mrNo
                    : Has(r.buttons, TMsgDlgBtn::mbOK)   ? mrOk
                                                         : ButtonResult(r.buttons.front());
  return r;
}

TModalResult MessageDlg(const std::string& message, TMsgDlgType type, std::initializer_list<TMsgDlgBtn> buttons,
                        int) {
  return MessageService().Ask(MessageDlgRequest(message, type, buttons));
}

void ShowMessage(const std::string& message) {
  TMessageRequest r;
  r.type = TMsgDlgType::mtCustom;
  r.caption = ApplicationTitle();
  r.text = message;
  r.buttons = {TMsgDlgBtn::mbOK};
  r.escape_result = mrOk;
  MessageService().Ask(r);
}

}  // namespace fw
