#include "components/jstore.h"

#include "platform/regstore.h"

const char* RootKeyName(TJStorageRootKey root) {
  switch (root) {
    case atrkClassesRoot:
      return "HKEY_CLASSES_ROOT";
    case atrkLocalMachine:
      return "HKEY_LOCAL_MACHINE";
    case atrkCurrentUser:
      return "HKEY_CURRENT_USER";
    case atrkUsers:
      return "HKEY_USERS";
    case atrkCurrentConfig:
      return "HKEY_CURRENT_CONFIG";
    case atrkDynamicData:
      return "HKEY_DYN_DATA";
  }
  return "HKEY_CURRENT_USER";
}

// ---- TJWin32Registry ----

TJWin32Registry::TJWin32Registry() = default;

TJWin32Registry::~TJWin32Registry() { Close(); }

void TJWin32Registry::Open(TJStorageRootKey root, const std::string& key) {
  if (store_) return;
  if (key.empty()) throw EJStorageError("Cannot open registry because TJStorage.Key is blank");
  // The folder is taken now, so that a changed $XDG_CONFIG_HOME applies to the next open.
  store_ = std::make_unique<plat::SettingsStore>(plat::SettingsStore::defaultFolder());
  path_ = std::string(RootKeyName(root)) + "\\" + key;
  store_->createKey(path_);  // success not examined: reads then give defaults
}

void TJWin32Registry::Close() {
  store_.reset();
  path_.clear();
}

std::optional<std::string> TJWin32Registry::ReadText(const std::string& name) const {
  if (!store_) return std::nullopt;
  auto v = store_->value(path_, name);
  if (!v || v->type != plat::RegValue::Type::Text) return std::nullopt;
  return v->text;
}

std::optional<int32_t> TJWin32Registry::ReadInt(const std::string& name) const {
  if (!store_) return std::nullopt;
  auto v = store_->value(path_, name);
  if (!v || v->type != plat::RegValue::Type::Int32) return std::nullopt;
  return v->number;
}

bool TJWin32Registry::ValueExists(const std::string& name) const {
  return store_ && store_->value(path_, name).has_value();
}

bool TJWin32Registry::WriteText(const std::string& name, const std::string& text) {
  return store_ && store_->setValue(path_, name, plat::RegValue::ofText(text));
}

bool TJWin32Registry::WriteInt(const std::string& name, int32_t value) {
  return store_ && store_->setValue(path_, name, plat::RegValue::ofInt(value));
}

bool TJWin32Registry::DeleteValue(const std::string& name) {
  return store_ && store_->deleteValue(path_, name);
}

// ---- TJStorage ----

TJStorage::TJStorage(void* owner) : owner_(owner) {}

TJStorage::~TJStorage() { Close(); }

void TJStorage::SetKey(const std::string& key) {
  if (key == key_) return;
  key_ = key;
  if (IsOpen()) {
    Close();
    if (!key_.empty()) Open();
  }
}

void TJStorage::SetRegistryRootKey(TJStorageRootKey root) {
  if (root == root_) return;
  root_ = root;
  if (IsOpen()) {
    Close();
    Open();
  }
}

void TJStorage::Open() {
  if (registry_) return;
  auto reg = std::make_unique<TJWin32Registry>();
  reg->Open(root_, key_);  // raises on a blank key; the storage then stays closed
  registry_ = std::move(reg);
}

void TJStorage::Close() { registry_.reset(); }

TJWin32Registry& TJStorage::need() const {
  if (!registry_) throw EJStorageError("JStorage not Open");
  return *registry_;
}

std::string TJStorage::ReadString(const std::string& name, const std::string& def) const {
  auto& reg = need();
  try {
    if (auto v = reg.ReadText(name)) return *v;
  } catch (const std::exception&) {
  }
  return def;
}

bool TJStorage::ReadBool(const std::string& name, bool def) const {
  auto& reg = need();
  try {
    if (auto v = reg.ReadInt(name)) return *v != 0;
  } catch (const std::exception&) {
  }
  return def;
}

int32_t TJStorage::ReadInteger(const std::string& name, int32_t def) const {
  auto& reg = need();
  try {
    if (auto v = reg.ReadInt(name)) return *v;
  } catch (const std::exception&) {
  }
  return def;
}

void TJStorage::WriteString(const std::string& name, const std::string& text) {
  auto& reg = need();
  try {
    reg.WriteText(name, text);
  } catch (const std::exception&) {
  }
}

void TJStorage::WriteBool(const std::string& name, bool value) {
  auto& reg = need();
  try {
    reg.WriteInt(name, value ? 1 : 0);
  } catch (const std::exception&) {
  }
}

void TJStorage::WriteInteger(const std::string& name, int32_t value) {
  auto& reg = need();
  try {
    reg.WriteInt(name, value);
  } catch (const std::exception&) {
  }
}

bool TJStorage::ValueExists(const std::string& name) const {
  auto& reg = need();
  try {
    return reg.ValueExists(name);
  } catch (const std::exception&) {
    return false;
  }
}

void TJStorage::DeleteValue(const std::string& name) {
  auto& reg = need();
  try {
    reg.DeleteValue(name);
  } catch (const std::exception&) {
  }
}

void TJStorage::Assign(const TJStorage& source) {
  if (&source == this) return;
  Close();
  SetKey(source.key_);
  SetRegistryRootKey(source.root_);
  owner_ = source.owner_;
  if (source.IsOpen()) Open();
}
