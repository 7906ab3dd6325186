#include "platform/ask.h"

namespace plat {

int defaultAnswer(const MessageQuestion& q) {
  if (q.defaultResult != mrNone) return q.defaultResult;
    static const struct {
      unsigned button;
      int result;
    } order[] = {{btnOk, mrOk},         {btnYes, mrYes},       {btnYesToAll, mrYesToAll},
                 {btnRetry, mrRetry},   {btnNo, mrNo},         {btnNoToAll, mrNoToAll},
                 {btnAbort, mrAbort},   {btnIgnore, mrIgnore}, {btnCancel, mrCancel}};
    for (const auto& o : order)
      if (q.buttons & o.button) return o.result;
    return mrOk;
  }

namespace {

// Answers every question as if the user pressed Enter on the first button.
class SilentAsker final : public Asker {
 public:
  int message(const MessageQuestion& q) override { return defaultAnswer(q); }
  int confirmReplace(const ReplaceQuestion&, std::string*) override { return mrNo; }
  std::optional<std::string> browseFolder(const FolderQuestion&) override { return std::nullopt; }
  std::optional<std::string> saveFile(const std::string&, const std::string&, const std::string&,
                                      const std::string&) override {
    return std::nullopt;
  }
  std::optional<std::string> openFile(const std::string&, const std::string&, const std::string&,
                                      const std::string&) override {
    return std::nullopt;
  }
  bool askPassword(const PasswordQuestion&, std::string*) override { return false; }
};

SilentAsker silent;
Asker* current = nullptr;

}  // namespace

Asker& asker() { return current ? *current : silent; }
void setAsker(Asker* a) { current = a; }

ScopedAsker::ScopedAsker(Asker* a) : previous_(current) { current = a; }
ScopedAsker::~ScopedAsker() { current = previous_; }

int messageBox(const std::string& text, const std::string& caption, unsigned buttons, Icon icon,
               int defaultResult) {
  MessageQuestion q;
  q.text = text;
  q.caption = caption;
  q.buttons = buttons;
  q.icon = icon;
  q.defaultResult = defaultResult;
  return asker().message(q);
}

}  // namespace plat
