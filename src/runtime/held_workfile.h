// A Workfile's file from its load to its close, and the replacement that puts
// its new text in place in one step, so that the file is always either
// exactly old or exactly new. The name is resolved once, by the hold; the
// replacement works from what the hold found and never looks it up again.
// Both objects are opaque: what they keep differs per system, and each
// system's platform file defines it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "runtime/platform.h"

namespace zubra32::platform {

// How taking hold of a Workfile ended.
enum class HoldResult {
  Held,        // open, and still the file the name leads to
  NotRegular,  // a device, pipe, socket or directory: never read or written
  TooLarge,    // more than the given number of bytes
  Locked,      // a run that writes it held it for longer than the wait
  Failed,      // could not be opened, or not as the name leads to it
};

// How a replacement ended.
enum class CommitResult {
  Replaced,  // the Workfile holds the new text, durably
  Changed,   // the name no longer leads to the file as loaded: nothing was replaced
  Failed,    // see Replacement::Commit
};

class HeldWorkfile {
 public:
  HeldWorkfile();
  ~HeldWorkfile();  // lets go of the file
  HeldWorkfile(HeldWorkfile&&) noexcept;
  HeldWorkfile& operator=(HeldWorkfile&&) noexcept;

  // Lets go of what was held, then resolves `name` once, opens the regular
  // file it leads to and waits, at most `lockWaitMilliseconds`, while a run
  // that writes it holds it (a reader's lock holds nothing up). The system
  // resolves the name, so its own rules on links apply; POSIX: our walk to
  // the file's directory must arrive at the same file, and as root a link is
  // followed only where root owns it or its owner owns what it leads to.
  // `forWriting` (a run): the file is opened for writing too where we may,
  // and locked against our other runs until it is let go; otherwise it is
  // opened for reading only and locks nothing. A name that another run gave
  // a new file while we waited is opened again.
  HoldResult Hold(std::string_view name, bool forWriting, std::uint64_t maxBytes, int lockWaitMilliseconds);

  // Closes the file, which ends the lock; nothing else happens. Does nothing
  // when nothing is held.
  void Release();

  bool IsHeld() const { return Details != nullptr; }

  // The file, open for reading at its start after the hold.
  Handle File() const;

  // Its size at the hold.
  std::uint64_t Size() const;

  // What a preview asks: whether a replacement would be let begin. False
  // when the file is read-only or not writable for us, or when its directory
  // does not let us create the temporary file. Creates and changes nothing.
  bool CanReplace() const;

  // True while the name still leads to the file as it was held: the same
  // file, not a link or another file put there, with its size, last-write
  // time and change time unchanged. The replacement asks the same before it
  // puts the new text in place.
  bool StillAsLoaded() const;

  struct State;  // each system's own

 private:
  friend class Replacement;
  std::unique_ptr<State> Details;
};

// The replaced file kept beside the new one, as NAME.<UTC time>.bak (with
// "-2", "-3" ... before ".bak" when that name is taken), created exclusively.
// POSIX links the old file itself there, so owner, mode, ACLs and times stay
// exact; Windows links it too where the volume can, and copies it otherwise.
struct Backup {
  int KeepNewest = 0;  // 0: every backup stays; N: the newest N of the Workfile's backups stay, older ones go
  std::string Made;    // set by Commit: the backup's name in the Workfile's directory
};

// Writes `bytes` to a new file in `name`'s place in one step (a report): a
// temporary file beside it, readable by its owner only, renamed over the
// name. The directory is reached as a Workfile's is; whatever stands at the
// name itself, a link included, is replaced, never written through.
bool WriteWholeFile(std::string_view name, std::string_view bytes);

// A new text for a held Workfile, written beside it. Dropped before its
// commit, it takes the temporary file with it and leaves the Workfile as it was.
class Replacement {
 public:
  explicit Replacement(HeldWorkfile& held);
  ~Replacement();
  Replacement(const Replacement&) = delete;
  Replacement& operator=(const Replacement&) = delete;

  // Checks that the held Workfile may be replaced and creates the temporary
  // file exclusively beside it, with no permission bits at all. False, with
  // nothing left behind, when the file is read-only, not writable for us, or
  // no temporary file can be created there.
  bool Begin();

  // The temporary file, open for writing, once begun.
  Handle File() const;

  // Gives the temporary file everything the Workfile carries (owner and
  // group, then its extended attributes: ACLs, security labels and the rest,
  // then all mode bits; at no moment does it grant more than the Workfile),
  // flushes it to disk, checks that the name still leads to the file as
  // loaded, puts it in the Workfile's place and (POSIX) flushes the
  // directory. Short of the replacement itself, the Workfile is left as it
  // was and the temporary file is removed. A failed directory flush comes
  // after the rename: the Workfile then already holds the new text, and the
  // failure is still reported, since the rename may not survive a crash.
  // Windows closes the held file first, which the replacement must move
  // aside: the hold is then good only for its release. With `backup`, the
  // replaced file is kept (see Backup) and older backups pruned; a backup
  // that cannot be made fails the commit before anything is replaced.
  CommitResult Commit(Backup* backup = nullptr);

  struct State;  // each system's own

 private:
  HeldWorkfile& Target;
  std::unique_ptr<State> Details;
};

}  // namespace zubra32::platform
