#pragma once
// The load and unload workflows, shared by the main window and `brc`.
//
// The caller owns the engine object: it sets the briefcase path, wires the
// engine's status, progress and cancel-check callbacks to its own progress
// display, and gives a way to rebuild the configuration record into the
// engine's comment. Every question (the 4 GB warning, the free-space
// question, each confirm-replace, "remove these files from the briefcase?")
// goes through the question interface (platform/ask.h). The results come
// back as named outcomes; noticeFor() gives the text, icon and help topic
// that report each one.

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "app/deletions.h"
#include "archive/encrypted.h"
#include "archive/errors.h"
#include "archive/extract/state.h"
#include "platform/ask.h"
#include "platform/trash.h"

namespace archive {
class TCompress;
}

namespace app {

// The help topic of the load's disk-full warning (kStrLoadDiskFull).
namespace text {
constexpr int kDiskFullTopic = 2011;
}  // namespace text

// ---------------------------------------------------------------- the local folder

// A local folder that no longer exists (renamed or deleted, its disk not
// mounted) is never made again by a run. AskForMissingFolder asks for it with
// the first-visit question (kStrFirstVisit): the folder chosen (one that exists), or
// nothing when none was chosen or nobody can be asked.
std::optional<std::string> AskForMissingFolder(const std::string& folder);
// "The local folder ... was not found." with what may have become of it.
std::string MissingFolderText(const std::string& folder);

// ---------------------------------------------------------------- load

enum class LoadOutcome {
  Loaded,          // kOk
  Cancelled,       // kInterrupted: the user stopped it; the briefcase is as it was
  NothingToLoad,   // no file went to the engine (every one 4 GB or more)
  NotReadable,     // kFileNotReadable: a file could not be opened; the others were loaded
  FolderMissing,   // kBadParameters: the local folder is gone; nothing was loaded
  DiskMayBeFull,   // kDiskMayBeFull
  WriteProtected,  // kWriteProtected
  BriefcaseBusy,   // kCreateFailed: another run holds the briefcase
  Gone,            // kGone: the briefcase's disk or folder (or the local folder) went away
  OutOfMemory,     // kOutOfMemory
  Failed,          // any other code
};

struct LoadRequest {
  std::vector<std::string> files;  // full local paths, in row order
  std::string baseFolder;          // the local folder (entry names are relative to it)
  // Rebuilds the configuration record into the engine's comment (before the
  // run and again just before the run writes its end record).
  std::function<void()> storeConfiguration;
  // Set: a missing local folder is asked for, and the folder chosen handed
  // here to become this computer's (the files listed were in the old one,
  // so nothing is loaded all the same). Unset (it may be left out of a
  // braced list): nobody is asked.
  std::function<void(const std::string&)> folderChosen = {};
  // How long to wait for another run to let go of the briefcase (0: not at all).
  std::chrono::milliseconds lockWait{0};
  // Set: the files are every candidate of a scan begun at this moment (ns
  // since 1970); a load that takes them all moves this computer's date for
  // paths it never carried.
  std::optional<int64_t> everyCandidateSince = {};
  // Files this computer carried and the user deleted since (DeletionsHere):
  // each travels as a row of the briefcase, and an entry that holds the
  // bytes carried leaves it. A path whose entry holds other bytes (changed
  // on the other computer) stays as it is.
  std::vector<DeletedHere> deletions = {};
};

struct LoadResult {
  int code = archive::kNothingToDo;  // the engine's result ("Nothing to do!" when it never ran)
  LoadOutcome outcome = LoadOutcome::NothingToLoad;
  bool ran = false;                   // the engine ran
  std::vector<std::string> tooLarge;  // files of 4 GB or more, left out
  std::string keptArchivePath;        // a new container the run could not put in place
  std::string gone;                   // Gone: what is no longer there
  // Files that changed while they were loaded (or just after): their entry
  // holds other bytes, so they stay load candidates.
  std::vector<std::string> changedMeanwhile;
  std::string carryWarning;  // a problem with the carry record ("": none)
  std::vector<std::string> deletionsCarried;  // the deletions the briefcase now carries
  std::vector<std::string> deletionsKept;     // not carried: the briefcase holds other bytes
};

// Loads the files: the 4 GB test (one warning for all such files), the
// status text "Loading briefcase: ...", the update run. The names list and
// the base folder are cleared again afterwards, whatever happened.
LoadResult Load(archive::TCompress& engine, const LoadRequest& request);

// ---------------------------------------------------------------- unload

// How a whole unload ended (what became of each entry is the engine's
// archive::UnloadOutcome, gathered into EntryFate below).
enum class UnloadRunOutcome {
  Unloaded,        // kOk
  SpaceDeclined,   // the free-space question was declined (nothing written, nothing said)
  FolderMissing,   // kBadParameters: the local folder is gone, no other chosen; nothing written
  NoFiles,         // kNoFiles
  Cancelled,       // kInterrupted
  InUse,           // kWriteFailure, kInUse
  FolderInTheWay,  // kWriteFailure when a folder stands where a file must go
  ReadOnly,        // kReadOnly
  NameRefused,     // kNameRefused: the disk does not accept a name
  DiskFull,        // kDiskFull
  BriefcaseBusy,   // kCreateFailed: another run holds the briefcase
  OutOfMemory,     // kOutOfMemory
  Failed,          // any other code
};

// Ask: the replace query the caller installed on the engine, else the
// question interface's confirm-replace (Cancel there stops the run).
enum class ReplaceMode { Ask, YesToAll, NoToAll };
// After a successful unload: ask (kStrUnloadedRemove or kStrNotAllUnloaded), remove the unloaded
// entries, or keep every entry and set the briefcase date to now.
enum class AfterUnload { Ask, Remove, Keep };
// Too little room: ask (the free-space question), or refuse with kDiskFull.
enum class SpaceCheck { Ask, Refuse };

struct UnloadRequest {
  std::vector<std::string> entries;  // entry names of the selected rows; empty: every entry
  std::string localFolder;           // where the entries go (the record's text)
  ReplaceMode replace = ReplaceMode::Ask;
  AfterUnload after = AfterUnload::Ask;
  SpaceCheck space = SpaceCheck::Ask;
  bool trash = true;                         // a replaced local file goes to the trash first
  std::function<void()> storeConfiguration;  // for the removal's rewrite
  // Set: a missing local folder is asked for, the folder chosen handed here
  // to become this computer's, and the unload goes there. Unset: nobody is
  // asked and the unload ends with FolderMissing.
  std::function<void(const std::string&)> folderChosen;
  // How long to wait for another run to let go of the briefcase, when the
  // entries may leave it (0: not at all).
  std::chrono::milliseconds lockWait{0};
  // The computer the briefcase's entries come from, as a conflict copy's
  // name says it ("": "other").
  std::string otherComputer = {};
  // The deletions the briefcase carries: left for a later unload (No), or
  // each local file that still holds the bytes this computer last carried
  // moved to the trash (Yes) or asked about (Ask). A file changed here since
  // always stays.
  DeletionAnswer deletions = DeletionAnswer::No;
};

// Points where the caller shows or hides its progress display; and lines for
// the run's message log (also kept in UnloadResult::notes).
struct UnloadHooks {
  std::function<void()> runStarting, runFinished;
  std::function<void()> removalStarting, removalFinished;
  std::function<void()> beforeQuestion;  // a question is about to be asked
  std::function<void(const std::string&)> note;
};

// What happened to one selected entry.
enum class EntryFate {
  Written,    // a file was put in place
  Identical,  // not written, but the local file already holds the same bytes (found so
              // only for a removal without a question; else such a file counts as Declined)
  Declined,   // an existing local file was kept (the user's answer)
  Skipped,    // not written for another reason (refused, damaged, in the way)
};

struct UnloadResult {
  int code = archive::kNothingToDo;  // the unload run's result
  UnloadRunOutcome outcome = UnloadRunOutcome::Failed;
  bool notAllUnloaded = false;
  size_t selectedCount = 0;                                // the rows the removal question counts
  std::vector<std::pair<std::string, EntryFate>> entries;  // every selected entry
  std::vector<plat::TrashedFile> trashed;  // replaced local files, kept in the trash
  bool trashUnavailable = false;           // some file was replaced without the trash
  bool removalAsked = false, removed = false;
  int removalCode = 0;             // the removal's result (kStrRemoveFailed when not kOk)
  std::vector<std::string> kept;   // entries left in the briefcase by the removal
  bool dated = false;              // the briefcase date was set to now
  int dateCode = 0;                // kWriteProtected, else kWriteFailure
  std::vector<std::string> notes;  // what the run told (also through UnloadHooks::note)
  // The local files the run could not create or replace, with the reason.
  std::vector<archive::TNotWritten> notWritten;
  // Entries changed on both computers, written beside the local file
  // (entry name, the copy's path).
  std::vector<std::pair<std::string, std::string>> conflictCopies;
  std::string carryWarning;  // a problem with the carry record ("": none)
  // The carried deletions: the local files moved to the trash, those kept
  // because they changed here since they were last carried, and those the
  // user kept.
  std::vector<std::string> deletedHere, deletionsKept, deletionsDeclined;

  // The status for a script: the run's code, else the removal's, else the date's.
  int exitCode() const;
};

// The whole unload: selection, free-space check, the run (with the replace
// questions and the trash), then removal or the briefcase date.
UnloadResult Unload(archive::TCompress& engine, const UnloadRequest& request,
                    const UnloadHooks& hooks = {});

// The removal question after a successful unload, as both front ends put it:
// kStrUnloadedRemove with the rows counted, or kStrNotAllUnloaded.
std::string RemovalQuestion(const UnloadResult& result);

// ---------------------------------------------------------------- encryption

// What the briefcase's encryption asks of a run before it writes anything:
// an encrypted briefcase needs its password (kPasswordNeeded), the right one
// (kPasswordWrong: its first encrypted entry's verifier tells), and a load
// into one that holds both kinds waits until the change of its encryption
// is finished (kMixedEncryption). kOk, or the code of the read.
// *found, when given, receives what the briefcase holds.
int CheckEncryption(archive::TCompress& engine, bool load,
                    archive::EncryptionFound* found = nullptr);

// The question for an encrypted briefcase's password (kPasswordCaption,
// "Password for " and the briefcase's path).
constexpr const char* kPasswordCaption = archive::kPasswordCaption;
plat::PasswordQuestion PasswordQuestionFor(const std::string& briefcase);

// CheckEncryption, asking for the password through the asker while the
// engine has none or a wrong one ("The password is not correct" above the
// question again; three answers at most). kOk with engine.password set (an
// encrypted briefcase) or untouched (a plain one); kPasswordNeeded when the
// question was cancelled or nobody can be asked; kPasswordWrong after three
// wrong answers; the other codes of CheckEncryption.
int ObtainPassword(archive::TCompress& engine, bool load);

// ---------------------------------------------------------------- shared steps

// The files the briefcase holds, by entry name: CRC-32 and size. False when
// it cannot be listed (an empty briefcase lists as none).
using EntryBytes = std::unordered_map<std::string, std::pair<uint32_t, uint64_t>>;
bool ListEntryBytes(archive::TCompress& engine, EntryBytes* out);

// Removes entries (exact names as listed) from the briefcase: an update run
// in delete mode with the status "Deleting files from briefcase...", the
// record rebuilt when `storeConfiguration` is set; the engine is back in add
// mode afterwards. The run's result.
int RemoveEntries(archive::TCompress& engine, const std::vector<std::string>& names,
                  const std::function<void()>& storeConfiguration);

// The user's delete of entries: RemoveEntries, and the entries it took
// into the history (`localFolder` names this computer's folder there).
int DeleteEntries(archive::TCompress& engine, const std::vector<std::string>& names,
                  const std::function<void()>& storeConfiguration,
                  const std::string& localFolder);

// Empties the briefcase (the configuration as the engine's comment holds
// it stays) and puts the clear into the history. The run's result.
int ClearBriefcase(archive::TCompress& engine, const std::string& localFolder);

// Rewrites the briefcase without the bytes its directory no longer
// references (superseded entries and old directories that loads appended
// past), with the status "Compacting the briefcase...". The briefcase date
// and every entry stay; cancellable (kInterrupted, the briefcase as it was).
struct CompactResult {
  int code = 0;
  uint64_t freedBytes = 0;
};
CompactResult CompactBriefcase(archive::TCompress& engine, const std::string& localFolder = {});
// "Compacting freed 1.5 MB." (or that there was nothing to free).
std::string CompactedText(uint64_t freedBytes);

// Writes the configuration record into the container in place, keeping the
// briefcase date as it was. 0, or the result code.
int StoreConfigurationKeepingDate(archive::TCompress& engine,
                                  const std::function<void()>& storeConfiguration);

// Sets the briefcase date to the current time (UTC, as every file time):
// kOk; kWriteProtected when the briefcase or its medium is write-protected;
// else kWriteFailure.
int StampBriefcaseDate(const std::string& briefcasePath);

// Whether another run holds the briefcase's lock now.
bool BriefcaseBusy(const std::string& briefcasePath);

// How long a run nobody watches (the window's -l and -u) waits for another
// run to let go of the briefcase: CARRYVALE_LOCK_WAIT seconds when set (a
// decimal number), else 30 seconds.
std::chrono::milliseconds UnattendedLockWait();

// ---------------------------------------------------------------- local delete

struct TrashReport {
  std::vector<std::string> moved;
  std::vector<std::pair<std::string, std::string>> failed;  // path, why
};

// Moves local files into the desktop's trash, each on its own.
TrashReport MoveToTrash(const std::vector<std::string>& paths);

// Deleting selected local files: asks "Move N file(s) to the trash?"
// (caption "Delete selected local files", Yes and No, question icon), moves
// them, and names the files that could not be moved in one warning. Empty
// report when declined (or nothing given).
TrashReport DeleteLocalFiles(const std::vector<std::string>& paths);

// ---------------------------------------------------------------- reporting

// How an outcome is reported: a string id (or a text of its own), the icon,
// the caption id (0: the platform's error caption), and a help topic.
struct Notice {
  int textId = 0;
  std::string text;  // used when textId is 0
  plat::Icon icon = plat::Icon::Warning;
  int captionId = 0;
  int helpContext = 0;
  bool shown() const { return textId != 0 || !text.empty(); }
  std::string message() const;
};

// Nothing to show for Loaded, Cancelled and NothingToLoad. `localFolder`
// names the folder of FolderMissing.
Notice noticeFor(LoadOutcome outcome, const std::string& briefcasePath,
                 const std::string& localFolder = {});
// The same, naming what is gone for Gone.
Notice noticeFor(const LoadResult& result, const std::string& briefcasePath,
                 const std::string& localFolder = {});
// Nothing to show for Unloaded and SpaceDeclined. `localFolder` names the
// folder of FolderMissing; a write failure names the files that could not
// be written (`notWritten`) and why.
Notice noticeFor(UnloadRunOutcome outcome, const std::string& briefcasePath,
                 const std::string& localFolder = {},
                 const std::vector<archive::TNotWritten>& notWritten = {});

}  // namespace app
