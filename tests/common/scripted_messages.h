// A message service for tests: every box the program shows (MessageDlg,
// ShowMessage, Application->MessageBox, the exception box) is recorded and
// answered from a script instead of waiting for a user. A box that comes
// when the script is empty fails the test and is answered as if closed.
//
//   ScriptedMessages boxes;            // installed until the end of scope
//   boxes.Answer(fw::mrYes);           // the next box gets Yes
//   form->DeleteBut->Click();
//   EXPECT_EQ(boxes.Texts(), std::vector<std::string>{"Delete This Photo?"});
#pragma once

#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <vector>

#include "framework/forms/message_service.h"

namespace testsupport {

class ScriptedMessages : public fw::TMessageService {
 public:
  ScriptedMessages() : previous_(fw::SetMessageService(this)) {}
  ~ScriptedMessages() override {
    fw::SetMessageService(previous_);
    EXPECT_TRUE(answers_.empty()) << answers_.size() << " scripted answers were not used";
  }
  ScriptedMessages(const ScriptedMessages&) = delete;
  ScriptedMessages& operator=(const ScriptedMessages&) = delete;

  // Queues the answers of the next boxes, in order.
  ScriptedMessages& Answer(fw::TModalResult result) {
    answers_.push_back(result);
    return *this;
  }
  // Answers every box that comes without a scripted answer with result.
  void AnswerAll(fw::TModalResult result) { default_ = result; }

  fw::TModalResult Ask(const fw::TMessageRequest& request) override {
    requests.push_back(request);
    if (!answers_.empty()) {
      const fw::TModalResult r = answers_.front();
      answers_.pop_front();
      return r;
    }
    if (default_ != fw::mrNone) return default_;
    ADD_FAILURE() << "unexpected message box \"" << request.caption << "\": " << request.text;
    return request.escape_result;
  }

  std::vector<std::string> Texts() const {
    std::vector<std::string> out;
    for (const auto& r : requests) out.push_back(r.text);
    return out;
  }

  std::vector<fw::TMessageRequest> requests;

 private:
  fw::TMessageService* previous_;
  std::deque<fw::TModalResult> answers_;
  fw::TModalResult default_ = fw::mrNone;
};

}  // namespace testsupport
