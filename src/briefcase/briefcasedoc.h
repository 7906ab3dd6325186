#pragma once
// The open briefcase: one container file, its configuration record, this
// computer's local folder and the split include and exclude patterns.
//
// The main window creates one when the document framework asks for an opened
// document and destroys it on close. The document creates the archive engine
// object and installs the callbacks its owner hands it, opens the container
// (reading the configuration, asking for the local folder on a first visit)
// and writes the configuration back in place on Save. It talks to the user
// only through the question interface, and to the dirty flag and the folder
// monitor only through the links given at construction, so it needs no window.

#include <functional>
#include <optional>
#include <string>

#include "archive/compress.h"
#include "briefcase/comment.h"
#include "briefcase/newbrief.h"
#include "briefcase/patterns.h"
#include "platform/filetime.h"

class TFolderMonitor;

namespace briefcase {

// The question of a computer's first visit (also asked when its local
// folder is gone): the folder browser with the whole question inside it,
// starting in `startFolder`. The folder chosen, without a trailing '/', or
// nothing when the user cancelled.
std::optional<std::string> AskForLocalFolder(const std::string& startFolder);

// What the document needs from its owner.
struct TBriefcaseDocLinks {
  // The engine callbacks (message, progress, cancel check, configuration
  // refresh, write-protected query) and the extraction callbacks (list entry,
  // replace query) installed on the new engine before anything runs.
  archive::TCompressCallbacks callbacks;
  archive::TExtractCallbacks extractCallbacks;
  // The document framework's dirty flag.
  std::function<bool()> dirty;
  std::function<void(bool)> setDirty;
  // The owner's folder monitor (may be null): pointed at the local folder.
  TFolderMonitor* monitor = nullptr;
};

class TBriefcaseDoc {
 public:
  // Opens the container at `path`. An empty path opens nothing (a new
  // briefcase comes from the wizard, below). Opened() tells the result.
  TBriefcaseDoc(const std::string& path, TBriefcaseDocLinks links);
  // The briefcase just created from the wizard's answers (CreateNewBriefcase):
  // its container, record, level, local folder (watched from now on) and
  // patterns; opened, and clean.
  TBriefcaseDoc(const NewBriefcase& created, TBriefcaseDocLinks links);
  ~TBriefcaseDoc();  // stops the folder monitor
  TBriefcaseDoc(const TBriefcaseDoc&) = delete;
  TBriefcaseDoc& operator=(const TBriefcaseDoc&) = delete;

  bool Opened() const { return opened_; }
  archive::TCompress& Engine() { return engine_; }
  const std::string& LocalFolder() const { return localFolder_; }
  TBriefcaseComment& Configuration() { return config_; }
  const TBriefcaseComment& Configuration() const { return config_; }
  const TPatternList& IncludePatterns() const { return include_; }
  const TPatternList& ExcludePatterns() const { return exclude_; }
  // The local folder was chosen by the user while opening (a first visit).
  bool FolderChosenOnOpen() const { return folderChosen_; }

  // Writes the configuration into the container when the document is dirty
  // or `force` is set; a failure is told (kStrWriteMissingOrProtected) and leaves it dirty. Always
  // true.
  bool Save(bool force);

  // Save As: the container copied whole to `path` (its entries, its
  // configuration as saved and its briefcase date; a file there replaced,
  // which the user agreed to), then the document's container from now on,
  // where Save writes a changed configuration. Another name of the same file
  // is only taken as the container's name. The old container stays as it
  // was. A failure is told (with the reason) and changes nothing: false.
  bool SaveAs(const std::string& path);

  // This computer's folder (every entry of it), the document's folder, the
  // folder monitor pointed at it and enabled; marks the document dirty.
  void SetLocalFolder(const std::string& path);

  // Both pattern lists from the configuration's texts (kStrTooManyExcludes / kStrTooManyIncludes
  // when a text holds more than 30 patterns).
  void SplitPatterns();
  bool IsIncluded(const std::string& name) const;
  bool IsExcluded(const std::string& name) const;

  // The container's last-write time; when it cannot be found the user is told
  // why (kStrDocWarning, kStrDiskNotInserted, kStrWrongDisk) and the date
  // is now. Result: found.
  bool ReadBriefcaseDate(plat::FileTime* date) const;
  // Sets the container's times and clears its read-only flag
  // (kStrCannotOpenForWriting, kStrCannotSetFileTime, kStrMayBeWriteProtected).
  bool WriteBriefcaseDate(plat::FileTime date) const;

 private:
  bool Open(const std::string& path);
  // The first-visit question of Open; false ends the open.
  bool chooseFolderFirstVisit();
  void setDirty(bool value);
  // Points the folder monitor at the local folder and starts it.
  void watchLocalFolder();

  TBriefcaseDocLinks links_;
  archive::TCompress engine_;
  TBriefcaseComment config_;
  std::string localFolder_;
  TPatternList include_;
  TPatternList exclude_;
  bool opened_ = false;
  bool folderChosen_ = false;
};

}  // namespace briefcase
