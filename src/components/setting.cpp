#include "components/setting.h"

TJSetting::TJSetting() : storage_(this) {}

std::string TJSetting::GetValue() {
  std::string result = defaultValue_;
  try {
    storage_.Open();
    result = storage_.ReadString(keyName_, defaultValue_);
  } catch (const std::exception&) {
    result = defaultValue_;
  }
  storage_.Close();
  return result;
}

void TJSetting::SetValue(const std::string& text) {
  if (storage_.Key().empty()) return;
  storage_.Open();
  try {
    storage_.WriteString(keyName_, text);
  } catch (...) {
    storage_.Close();
    throw;
  }
  storage_.Close();
}
