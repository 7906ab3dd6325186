#pragma once
// One named text value kept in the settings storage. The storage is opened
// only around each read or write.

#include <string>

#include "components/jstore.h"

class TJSetting {
 public:
  TJSetting();
  TJSetting(const TJSetting&) = delete;
  TJSetting& operator=(const TJSetting&) = delete;

  TJStorage& Storage() { return storage_; }
  const TJStorage& Storage() const { return storage_; }

  const std::string& KeyName() const { return keyName_; }
  void SetKeyName(const std::string& name) { keyName_ = name; }
  const std::string& DefaultValue() const { return defaultValue_; }
  void SetDefaultValue(const std::string& text) { defaultValue_ = text; }

  // The stored text, or DefaultValue when it is missing or the storage cannot
  // be opened (a blank key included); never raises a storage error.
  std::string GetValue();
  // Stores the text; nothing happens while the storage's key is blank.
  void SetValue(const std::string& text);

 private:
  TJStorage storage_;
  std::string keyName_;
  std::string defaultValue_;
};
