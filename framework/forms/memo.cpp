#include "framework/forms/memo.h"

#include <QPlainTextEdit>
#include <QTextBlock>
#include <QTextDocument>

#include "framework/forms/application.h"
#include "framework/forms/qt_text.h"
#include "framework/forms/text_input.h"

namespace fw {

namespace {

// Each block of the document is one line; an empty document has none.
// Changes rewrite the whole text: memos hold little, and one path keeps
// the line rules simple.
class MemoLines : public TControlStrings {
 public:
  explicit MemoLines(QPlainTextEdit* edit) : edit_(edit) {}
  int Count() const override {
    if (edit_ == nullptr || edit_->document()->isEmpty()) return 0;
    return edit_->document()->blockCount();
  }
  std::string Get(int index) const override {
    CheckIndex(index, Count());
    return AnsiStr(edit_->document()->findBlockByNumber(index).text());
  }
  void Put(int index, const std::string& s) override {
    CheckIndex(index, Count());
    QStringList l = All();
    l[index] = QStr(s);
    Set(l);
  }
  void Insert(int index, const std::string& s) override {
    CheckIndex(index, Count() + 1);
    QStringList l = All();
    l.insert(index, QStr(s));
    Set(l);
  }
  void Delete(int index) override {
    CheckIndex(index, Count());
    QStringList l = All();
    l.removeAt(index);
    Set(l);
  }
  void Clear() override { edit_->clear(); }

 private:
  QStringList All() const {
    if (Count() == 0) return {};
    return edit_->toPlainText().split(QChar('\n'));
  }
  void Set(const QStringList& l) { edit_->setPlainText(l.join(QChar('\n'))); }
  QPlainTextEdit* edit_;
};

}  // namespace

std::string PlainTextToAnsi(const QString& text) {
  QString t = text;
  t.replace(QStringLiteral("\n"), QStringLiteral("\r\n"));
  return AnsiStr(t);
}

QString AnsiToPlainText(const std::string& text) {
  QString t = QStr(text);
  t.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  t.replace(QChar('\r'), QChar('\n'));
  return t;
}

TMemo::TMemo(TComponent* owner) : TControl(owner, new QPlainTextEdit) {
  lines_ = std::make_unique<MemoLines>(Edit());
  GuardTextInput(Edit(), this);
  QObject::connect(Edit(), &QPlainTextEdit::textChanged, Edit(), [this] {
    if (OnChange) Guarded([&] { OnChange(this); }, this);
  });
}

TMemo::~TMemo() = default;

QPlainTextEdit* TMemo::Edit() const { return static_cast<QPlainTextEdit*>(Widget()); }

std::string TMemo::Text() const { return Edit() != nullptr ? PlainTextToAnsi(Edit()->toPlainText()) : std::string(); }

void TMemo::SetText(const std::string& text) { Edit()->setPlainText(AnsiToPlainText(text)); }

bool TMemo::ReadOnly() const { return Edit()->isReadOnly(); }
void TMemo::SetReadOnly(bool v) { Edit()->setReadOnly(v); }

void TMemo::SetWordWrap(bool v) {
  word_wrap_ = v;
  Edit()->setLineWrapMode(v ? QPlainTextEdit::WidgetWidth : QPlainTextEdit::NoWrap);
}

void TMemo::SelectAll() { Edit()->selectAll(); }

}  // namespace fw
