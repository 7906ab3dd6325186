#pragma once
// Settings storage: each component that keeps settings owns a TJStorage that
// names a key below a root and reads and writes typed values there while it
// is open. The registry itself is kept in the per-user settings store
// (platform/regstore.h); every root lives in that one per-user store.
//
// Value types: texts; integers as 32-bit values; booleans as integers 0 or 1
// (any non-zero integer reads as true).

#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>

namespace plat {
class SettingsStore;
}

// Where the program keeps its per-user settings.
namespace cvreg {
// The program's own key (under the current user): values `debug`, `DontShowAgain`
// and `KeepReplacedInTrash`.
inline constexpr const char* kAppKey = "Software\\Quillmarsh Software\\Carryvale";
// The recently-used list ("Count", then "0", "1", ...).
inline constexpr const char* kMruKey = "Software\\Quillmarsh Software\\Carryvale\\MRU";
// Integer 0/1: diagnostics switch.
inline constexpr const char* kDebugValue = "debug";
// Text "1"/"0": the info message dialog's "Don't show this message again".
inline constexpr const char* kDontShowAgainValue = "DontShowAgain";
// Text "1"/"0": an unload keeps each local file it replaces in the trash (on when missing).
inline constexpr const char* kKeepReplacedInTrashValue = "KeepReplacedInTrash";
}  // namespace cvreg

// Raised by the storage: blank key on Open, reads and writes while closed.
class EJStorageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

enum TJStorageRootKey {
  atrkClassesRoot,
  atrkLocalMachine,
  atrkCurrentUser,
  atrkUsers,
  atrkCurrentConfig,
  atrkDynamicData,
};

// The root's name as the first part of a key path in the store ("HKEY_CURRENT_USER").
const char* RootKeyName(TJStorageRootKey root);

// The back end: one open key of the settings store.
class TJWin32Registry {
 public:
  TJWin32Registry();
  ~TJWin32Registry();  // closes
  TJWin32Registry(const TJWin32Registry&) = delete;
  TJWin32Registry& operator=(const TJWin32Registry&) = delete;

  // Opens `key` below `root`, creating the key path when it is missing (a
  // failure to create it is not examined). Does nothing when a key is held
  // already. Raises EJStorageError when the key is blank.
  void Open(TJStorageRootKey root, const std::string& key);
  // Releases the key; every write is on disk already.
  void Close();
  bool IsOpen() const { return store_ != nullptr; }

  // Reads; nothing when the value is missing, has another type or cannot be read.
  std::optional<std::string> ReadText(const std::string& name) const;
  std::optional<int32_t> ReadInt(const std::string& name) const;
  bool ValueExists(const std::string& name) const;
  // Writes; false when the value could not be stored.
  bool WriteText(const std::string& name, const std::string& text);
  bool WriteInt(const std::string& name, int32_t value);
  bool DeleteValue(const std::string& name);

 private:
  std::unique_ptr<plat::SettingsStore> store_;
  std::string path_;  // root name + '\' + key
};

class TJStorage {
 public:
  // `owner`: the component that owns this storage (opaque; copied by Assign).
  explicit TJStorage(void* owner = nullptr);
  ~TJStorage();
  TJStorage(const TJStorage&) = delete;
  TJStorage& operator=(const TJStorage&) = delete;

  const std::string& Key() const { return key_; }
  // A different key is stored; an open storage is closed and, when the new
  // key is not empty, opened again on it.
  void SetKey(const std::string& key);
  TJStorageRootKey RegistryRootKey() const { return root_; }
  // A different root closes an open storage and opens it again under the new root.
  void SetRegistryRootKey(TJStorageRootKey root);
  void* Owner() const { return owner_; }
  void SetOwner(void* owner) { owner_ = owner; }

  // Creates and opens the back end (creating the key path when missing);
  // nothing when already open. Raises EJStorageError
  // "Cannot open registry because TJStorage.Key is blank".
  void Open();
  // Destroys the back end.
  void Close();
  bool IsOpen() const { return registry_ != nullptr; }
  // The back end while open, else nullptr.
  TJWin32Registry* Registry() const { return registry_.get(); }

  // Reads return `def` when the value is missing, has another type or cannot
  // be read; writes swallow failures. All raise EJStorageError "JStorage not
  // Open" while the storage is closed.
  std::string ReadString(const std::string& name, const std::string& def) const;
  bool ReadBool(const std::string& name, bool def) const;
  int32_t ReadInteger(const std::string& name, int32_t def) const;
  void WriteString(const std::string& name, const std::string& text);
  void WriteBool(const std::string& name, bool value);
  void WriteInteger(const std::string& name, int32_t value);
  // Also raise "JStorage not Open" while closed.
  bool ValueExists(const std::string& name) const;
  void DeleteValue(const std::string& name);  // failures swallowed

  // Close; take key and root; copy the owner; open when the source is open.
  void Assign(const TJStorage& source);

 private:
  TJWin32Registry& need() const;

  std::string key_;
  TJStorageRootKey root_ = atrkCurrentUser;
  void* owner_ = nullptr;
  std::unique_ptr<TJWin32Registry> registry_;
};
