// The names of the backups a write-back keeps beside a Workfile:
// "<name>.YYYY-MM-DDTHHMMSS.bak" (the time in UTC), "-2", "-3" ... before
// ".bak" for a second and third one made in the same second. Only names of
// exactly this shape are ever taken for ours.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace zubra32 {

// The backup name of `entry` for the time `secondsSinceEpoch`, the `number`th of that second.
std::string BackupName(std::string_view entry, std::int64_t secondsSinceEpoch, int number);

// The number the next backup of `entry` made at `secondsSinceEpoch` takes:
// one past the highest of that second among `names` (a directory's entries),
// so that it sorts as the newest even where older ones were removed.
int NextBackupNumber(std::string_view entry, std::int64_t secondsSinceEpoch, const std::vector<std::string>& names);

// Of `names` (a directory's entries), those that are backup names of `entry`, newest first.
std::vector<std::string> BackupsNewestFirst(std::string_view entry, const std::vector<std::string>& names);

}  // namespace zubra32
