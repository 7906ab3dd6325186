#pragma once
// The engine object of one listing, unload or test run (archive/extract/
// extract.h). Its parts live in files of their own:
//   directory.cpp - the end record, the central directory and its repairs,
//                   each entry's local header and its checks;
//   decide.cpp    - the listing and unload passes, what is done with each
//                   entry (the name, the file found, the policies, the
//                   question), and the writer that writes each file at once;
//   pipeline.cpp  - the slot queue every entry of an unload or test goes
//                   through in archive order, and the writer that writes
//                   on several threads.

#include <cstdint>
#include <deque>
#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

#include "archive/compress.h"
#include "archive/extract/input.h"
#include "archive/extract/localfile.h"
#include "archive/extract/names.h"
#include "archive/extract/naming.h"
#include "archive/extract/restore.h"
#include "archive/extract/state.h"
#include "archive/extract/writejobs.h"
#include "archive/layout.h"
#include "platform/findfile.h"

namespace archive::engine {

inline int raise(int result, int code) { return std::max(result, code); }

enum class Policy { Never, Ask, Always };

// What the calling thread decided for an entry of an unload.
enum class Decision : uint8_t {
  Write,     // its file is to be written at the plan's target
  Done,      // a folder entry: its folder is there
  Declined,  // the file there stays (the answer or the policy)
  Skipped,   // refused: a name, a path, a file another entry has, the briefcase
  Ask,       // decide: the user is to be asked (answer)
  Renamed,   // answer: the plan has the path the user gave, to be decided again
  Beside,    // a conflict a policy would settle: the entry goes beside the local file
};

// One entry of an unload as it is decided and written: where its file goes,
// what is there now, and what its data is to give.
struct EntryPlan {
  std::string target;    // the entry's name; once mapped, the path to write
  bool renamed = false;  // target is a full path the user gave
  bool beside = false;   // target is the conflict copy's path: a new file, of the time it is made
  CarryState carried = CarryState::Unknown;  // what the carry record says
  plat::FindData found;  // what is at the target (name empty: nothing)
  plat::FileTime existingTime = 0, entryTime = 0;  // as the question shows them
  uint32_t existingSize = 0, entrySize = 0;
  uint32_t compressed = 0;  // bytes of data the entry has
  uint32_t crc = 0;         // its CRC-32

  const plat::FileInfo* existing() const { return found.name.empty() ? nullptr : &found.info; }
};

class Run {
 public:
  explicit Run(TCompress& c) : c_(c), s_(c.extract) {}

  int go();

 private:
  // What the run says goes to the sink in force (sink_): the caller's
  // callbacks, or the slot of an entry the pool writer prepares ahead of
  // its turn (told in turn, as the slot queue replays it).
  class Sink {
   public:
    virtual ~Sink() = default;
    virtual void message(const std::string& text) = 0;
    virtual void totalProgress(int percent) = 0;
    virtual void fileProgress(int percent) = 0;
  };
  void msg(const std::string& text) { sink_->message(text); }
  void totalProgress(int p) { sink_->totalProgress(p); }
  void fileProgress(int p) { sink_->fileProgress(p); }
  std::string path() const { return c_.archivePath; }
  void forgetClaims();

  // ---- directory.cpp: the briefcase, its directory, each local header ----
  int steps();
  int directory(bool* stop);
  bool centralSignatureAt(int64_t pos);
  int readLocalHeader(TExtractEntry& e, int* result);
  std::string localMismatch(TExtractEntry& e);

  // ---- decide.cpp: the passes, and what is done with each entry ----
  bool matchesNames(const TExtractEntry& e, std::vector<char>* used);
  int listingPass();
  int unloadPass(bool test);
  void planTargets();
  int handleEntryData(TExtractEntry& e, bool test, EntryPlan& plan, bool* stopPass);
  std::optional<Decision> named(const TExtractEntry& e, const EntryPlan& plan,
                                const std::string& shown, int* result);
  std::optional<Decision> mapped(const TExtractEntry& e, EntryPlan& plan, int* result);
  bool lookAt(EntryPlan& plan);
  Decision judge(const TExtractEntry& e, EntryPlan& plan, const std::string& shown, int* result);
  Decision byRecord(const TExtractEntry& e, EntryPlan& plan, const std::string& shown);
  bool besideTarget(const TExtractEntry& e, EntryPlan& plan, const std::string& shown,
                    int* result);
  Decision answer(EntryPlan& plan, const std::string& shown);
  void settleFolders(const TExtractEntry& e);
  static std::string localNameOf(const TExtractEntry& e);
  void claim(const std::string& path, const plat::FileInfo* file);
  bool claimed(const std::string& path, const plat::FindData* found);
  bool spelledOtherwise(const MappedPath& mp) const;
  bool isContainer(const std::string& path, const plat::FileInfo& info);
  int writeEntry(TExtractEntry& e, const EntryPlan& plan, const std::string& shown);
  int writeHere(TExtractEntry& e, const EntryPlan& plan, const std::string& shown, bool exists,
                bool replacing, uint32_t mode);
  OldFile oldFileStep(const TExtractEntry& e, bool replacing, const std::string& target);
  int keptOld(TExtractEntry& e, const std::string& shown, const std::string& target);
  int cannotCreate(const std::string& target, int err);
  int placed(TExtractEntry& e, const std::string& target, const std::string& shown, bool ok,
             int err, const plat::FileInfo& written);
  int extract(TExtractEntry& e, const EntryPlan& plan, plat::File* out, const std::string& shown);
  EntryDecoder::Params params(const TExtractEntry& e, const EntryPlan& plan,
                              const std::string& shown) const;
  class InputSource;  // the briefcase as a decoder's input
  class LiveSink;     // the run's own callbacks as a decoder's sink

  // ---- The writer: carries out the plans the calling thread decides ----
  // The inline writer (decide.cpp) writes each file at once; the pool
  // writer (pipeline.cpp) hands it to a worker when the entry is ahead of
  // its turn.
  class Writer {
   public:
    virtual ~Writer() = default;
    // Writes the entry's file; kWriting: it is finished later, in archive
    // order (finishFront).
    virtual int write(TExtractEntry& e, const EntryPlan& plan, const std::string& shown,
                      bool exists, bool replacing, uint32_t mode) = 0;
  };
  class InlineWriter;
  class PoolWriter;
  std::unique_ptr<Writer> poolWriter();

  // ---- pipeline.cpp: the queue of entries, and the pool writer ----
  static constexpr int kWriting = -1;             // writeEntry: finished later
  static constexpr size_t kLargeEntry = 256 * 1024;  // compressed bytes beyond which the worker reads
  static constexpr size_t kBudget = 8u << 20;     // compressed bytes in flight
  static constexpr size_t kMaxSlots = 1024;       // entries prepared ahead
  static constexpr size_t kWaitBatch = 16;        // entries finished after one wait
  static constexpr size_t kMaxHeld = 64;          // of them, new files kept open for their turn

  enum class Event : uint8_t { Message, TotalProgress, FileProgress, CancelCheck };
  struct Recorded {
    Event kind;
    int value;
    std::string text;
  };
  struct Abandoned {};  // unwinds the preparation of an entry that will not be handled

  struct Slot {
    TExtractEntry* e = nullptr;
    EntryPlan plan;
    std::vector<Recorded> events;  // what its preparation said
    size_t emitted = 0;
    bool live = false;  // handled as on one thread (everything before it was finished)
    int result = 0;
    bool stop = false;     // a live entry ended the pass
    bool notAll = false;   // not unloaded (no file of its own to write)
    bool keeps = false;    // a folder entry: its folders stay
    WriteJobPtr job;
    size_t jobEvents = 0;  // the worker's events replayed so far
    std::string target, shown;
    bool exists = false, replacing = false;
    std::vector<std::string> folders;  // made for it, outermost first
    std::exception_ptr error;          // its preparation failed: the run ends there
  };

  // The caller's callbacks.
  class CallerSink : public Sink {
   public:
    explicit CallerSink(TCompress& c) : c_(c) {}
    void message(const std::string& text) override { c_.sendMessage(text); }
    void totalProgress(int p) override {
      if (c_.callbacks.totalProgress) c_.callbacks.totalProgress(p);
    }
    void fileProgress(int p) override {
      if (c_.callbacks.fileProgress) c_.callbacks.fileProgress(p);
    }

   private:
    TCompress& c_;
  };
  // The events of the entry being prepared, kept in its slot.
  class SlotSink : public Sink {
   public:
    explicit SlotSink(Slot*& cur) : cur_(cur) {}
    void message(const std::string& text) override {
      cur_->events.push_back({Event::Message, 0, text});
    }
    void totalProgress(int p) override { cur_->events.push_back({Event::TotalProgress, p, {}}); }
    void fileProgress(int p) override { cur_->events.push_back({Event::FileProgress, p, {}}); }

   private:
    Slot*& cur_;
  };

  bool ahead() const { return pool_ && cur_ && !cur_->live; }
  void toSlot() { sink_ = &slotSink_; }
  void toCaller() { sink_ = &caller_; }
  int entryLoop(uint64_t total, bool test, bool* stopPass);
  Decision decideEntry(const TExtractEntry& e, EntryPlan& plan, const std::string& shown,
                       int* result);
  bool ready(Slot& sl) { return !sl.job || pool_->done(*sl.job); }
  void replayFront();
  void prepare(TExtractEntry& e);
  bool writingAnyOf(const MappedPath& mp) const;
  void goLive();
  void drainFront();
  int startWrite(TExtractEntry& e, const EntryPlan& plan, const std::string& shown, bool exists,
                 bool replacing, uint32_t mode);
  std::vector<uint8_t> readChunk(size_t want);
  void waitForRoom(Slot& sl, size_t bytes);
  bool replayEvents(Slot& sl);
  void replayJobEvents(const std::vector<JobEvent>& evs);
  void finishFront();
  void waitForSeveral();
  int finishWrite(Slot& sl, bool* stop);
  static bool under(const std::string& path, const std::string& folder);
  void dropFolders(Slot& sl);
  void removeFolders(std::vector<std::string>& folders);
  void abandonAll();
  static void removePlaced(const WriteJob& job);
  void release(Slot& sl);

  TCompress& c_;
  TExtractState& s_;
  JNormFile file_;
  std::unique_ptr<ReadBuffer> buffer_;  // the one buffer over the briefcase
  std::unique_ptr<ArchiveInput> input_;
  LocalFileWriter local_;  // the file written on the calling thread
  std::unique_ptr<Writer> writer_;
  std::unique_ptr<NameSelector> selector_;
  // Per entry: why it leaves its file to another ("": it does not).
  std::vector<std::string> yieldsTo_;
  std::unordered_set<std::string> spellings_;  // loose keys the targets spell in several ways
  EntryDecoder decoder_;
  int entryNumber_ = 0;
  uint32_t defaultMode_ = 0666;
  int64_t aside_ = 0;
  Policy existingPolicy_ = Policy::Ask;
  Policy newerPolicy_ = Policy::Ask;
  // The unload on several threads.
  std::unique_ptr<WritePool> pool_;
  std::deque<Slot> slots_;
  Slot* cur_ = nullptr;  // the entry being prepared
  size_t heldOpen_ = 0;  // entries whose finished file waits open for its turn
  int passResult_ = 0;
  bool stopped_ = false, stopPass_ = false;
  bool testing_ = false;  // a test run: entries are checked, nothing is written
  CallerSink caller_{c_};
  SlotSink slotSink_{cur_};
  Sink* sink_ = &caller_;
  const std::function<void(const std::string&)> say_ = [this](const std::string& t) { msg(t); };
};

}  // namespace archive::engine
