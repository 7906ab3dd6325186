#pragma once
// Deletions that travel: a file this computer carried and the user then
// deleted is taken by a load (when the briefcase's option is on here, or
// when asked for), as a row the container carries beside its entries; the
// other computer's unload offers each row as a deletion of its own copy,
// which goes to the trash only while it holds the bytes that computer last
// carried (else it is a conflict, and stays).

#include <string>
#include <vector>

#include "app/rows.h"
#include "archive/deletions.h"
#include "carry/record.h"

namespace app {

// Options > Carry deletions: this computer's choice for the briefcase (off
// unless set), kept beside the carry record, not in the configuration.
bool CarriesDeletions(const std::string& briefcasePath);
bool SetCarriesDeletions(const std::string& briefcasePath, bool on);

// A file of the local folder that this computer carried and that is gone.
struct DeletedHere {
  std::string path;  // relative, as the entries name it
  carry::Record record;
};
// Every such file, by path.
std::vector<DeletedHere> DeletionsHere(const std::string& briefcasePath,
                                       const std::string& localFolder);

// A local row for a deletion (its record's size and time, "deleted here").
ListRow DeletedRowFor(const DeletedHere& d);

// What a load takes along: DeletionsHere when this computer carries
// deletions with the briefcase or the user asked for them (`asked`), else none.
std::vector<DeletedHere> DeletionsToCarry(const std::string& briefcasePath,
                                          const std::string& localFolder, bool asked);

// The rows the briefcase carries (none when it carries none or they were
// ignored: `problem` then says why).
std::vector<archive::DeletionRow> CarriedDeletions(const std::string& briefcasePath,
                                                   std::string* problem = nullptr);

// How an unload decides the rows: not at all (they stay for a later
// unload), each file that may go to the trash, or asking about each.
enum class DeletionAnswer { No, Yes, Ask };

}  // namespace app
