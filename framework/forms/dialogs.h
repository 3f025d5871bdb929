// Message boxes of the framework. Each goes through the message service
// (framework/forms/message_service.h), so a test can script the answer.
#pragma once

#include <initializer_list>
#include <string>

#include "framework/forms/message_service.h"

namespace fw {

// A box captioned by its type ("Confirm", "Information", "Warning",
// "Error"; the application title for mtCustom) with the buttons given,
// shown in the framework's button order whatever the order asked. Returns
// the modal result of the button chosen (mrYes, mrNo, mrOk, ...).
TModalResult MessageDlg(const std::string& message, TMsgDlgType type, std::initializer_list<TMsgDlgBtn> buttons,
                        int help_context = 0);
// The request MessageDlg sends (for tests that compare).
TMessageRequest MessageDlgRequest(const std::string& message, TMsgDlgType type,
                                  std::initializer_list<TMsgDlgBtn> buttons);
// An OK box captioned with the application title.
void ShowMessage(const std::string& message);

}  // namespace fw
