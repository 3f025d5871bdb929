#include "framework/forms/message_service.h"

#include <QAbstractButton>
#include <QMessageBox>
#include <QPushButton>

#include "framework/forms/qt_text.h"

namespace fw {

namespace {

struct ButtonInfo {
  const char* text;
  TModalResult result;
  QMessageBox::ButtonRole role;
};

// Indexed by TMsgDlgBtn.
constexpr ButtonInfo kButtons[] = {
    {"&Yes", mrYes, QMessageBox::YesRole},         {"&No", mrNo, QMessageBox::NoRole},
    {"OK", mrOk, QMessageBox::AcceptRole},         {"Cancel", mrCancel, QMessageBox::RejectRole},
    {"&Abort", mrAbort, QMessageBox::RejectRole},  {"&Retry", mrRetry, QMessageBox::AcceptRole},
    {"&Ignore", mrIgnore, QMessageBox::AcceptRole}, {"&All", mrAll, QMessageBox::YesRole},
    {"N&o to All", mrNoToAll, QMessageBox::NoRole}, {"Yes to &All", mrYesToAll, QMessageBox::YesRole},
    {"&Help", mrNone, QMessageBox::HelpRole},
};

const ButtonInfo& Info(TMsgDlgBtn b) { return kButtons[static_cast<int>(b)]; }

class QtMessageService : public TMessageService {
 public:
  TModalResult Ask(const TMessageRequest& request) override {
    QMessageBox box;
    box.setWindowTitle(QStr(request.caption));
    // Texts carry file names, URLs and categories: never markup.
    box.setTextFormat(Qt::PlainText);
    box.setText(QStr(request.text));
    switch (request.type) {
      case TMsgDlgType::mtWarning: box.setIcon(QMessageBox::Warning); break;
      case TMsgDlgType::mtError: box.setIcon(QMessageBox::Critical); break;
      case TMsgDlgType::mtInformation: box.setIcon(QMessageBox::Information); break;
      case TMsgDlgType::mtConfirmation: box.setIcon(QMessageBox::Question); break;
      case TMsgDlgType::mtCustom: break;
    }
    std::vector<std::pair<QAbstractButton*, TModalResult>> buttons;
    for (TMsgDlgBtn b : request.buttons) {
      QPushButton* button = box.addButton(QStr(Info(b).text), Info(b).role);
      buttons.emplace_back(button, Info(b).result);
      if (b == request.default_button) box.setDefaultButton(button);
    }
    box.exec();
    for (const auto& [button, result] : buttons)
      if (box.clickedButton() == button) return result;
    return request.escape_result;
  }
};

QtMessageService& QtService() {
  static QtMessageService service;
  return service;
}

TMessageService* g_service = nullptr;

}  // namespace

TMessageService& MessageService() { return g_service != nullptr ? *g_service : QtService(); }

TMessageService* SetMessageService(TMessageService* service) {
  TMessageService* old = g_service;
  g_service = service;
  return old;
}

const char* ButtonText(TMsgDlgBtn button) { return Info(button).text; }
TModalResult ButtonResult(TMsgDlgBtn button) { return Info(button).result; }

const char* DialogCaption(TMsgDlgType type) {
  switch (type) {
    case TMsgDlgType::mtWarning: return "Warning";
    case TMsgDlgType::mtError: return "Error";
    case TMsgDlgType::mtInformation: return "Information";
    case TMsgDlgType::mtConfirmation: return "Confirm";
    case TMsgDlgType::mtCustom: break;
  }
  return "";
}

}  // namespace fw
