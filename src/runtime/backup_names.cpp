#include "runtime/backup_names.h"

#include <algorithm>
#include <tuple>

namespace zubra32 {

namespace {

constexpr std::string_view Shape = "YYYY-MM-DDTHHMMSS";

std::string TwoDigits(std::int64_t value) {
  return {static_cast<char>('0' + value / 10), static_cast<char>('0' + value % 10)};
}

}  // namespace

std::string BackupName(std::string_view entry, std::int64_t secondsSinceEpoch, int number) {
  // The civil date of a day count (days since 1970-01-01), in the proleptic Gregorian calendar.
  std::int64_t days = secondsSinceEpoch / 86400, seconds = secondsSinceEpoch % 86400;
  if (seconds < 0) seconds += 86400, --days;
  days += 719468;
  std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  std::int64_t dayOfEra = days - era * 146097;
  std::int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  std::int64_t monthIndex = (5 * dayOfYear + 2) / 153;
  std::int64_t day = dayOfYear - (153 * monthIndex + 2) / 5 + 1;
  std::int64_t month = monthIndex < 10 ? monthIndex + 3 : monthIndex - 9;
  std::int64_t year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
  std::string name(entry);
  name.append(".").append(std::to_string(year)).append("-").append(TwoDigits(month)).append("-");
  name.append(TwoDigits(day)).append("T").append(TwoDigits(seconds / 3600)).append(TwoDigits(seconds / 60 % 60));
  name.append(TwoDigits(seconds % 60));
  if (number > 1) name.append("-").append(std::to_string(number));
  return name.append(".bak");
}

int NextBackupNumber(std::string_view entry, std::int64_t secondsSinceEpoch, const std::vector<std::string>& names) {
  int highest = 0;
  for (int number = 1; number <= static_cast<int>(names.size()); ++number) {
    if (std::find(names.begin(), names.end(), BackupName(entry, secondsSinceEpoch, number)) != names.end())
      highest = number;
  }
  return highest + 1;
}

std::vector<std::string> BackupsNewestFirst(std::string_view entry, const std::vector<std::string>& names) {
  std::vector<std::tuple<std::string_view, int, std::string_view>> found;  // stamp, number, name
  for (std::string_view name : names) {
    if (name.size() < entry.size() + 1 + Shape.size() + 4 || !name.starts_with(entry) || name[entry.size()] != '.' ||
        !name.ends_with(".bak")) {
      continue;
    }
    std::string_view rest = name.substr(entry.size() + 1, name.size() - entry.size() - 5);
    bool shaped = true;
    for (std::size_t i = 0; i < Shape.size(); ++i) {
      bool digit = rest[i] >= '0' && rest[i] <= '9';
      shaped = shaped && (Shape[i] == '-' || Shape[i] == 'T' ? rest[i] == Shape[i] : digit);
    }
    std::string_view counter = rest.substr(Shape.size());
    int number = 1;
    if (!counter.empty()) {
      shaped = shaped && counter.size() >= 2 && counter.size() <= 4 && counter[0] == '-' && counter[1] != '0' &&
               counter.find_first_not_of("0123456789", 1) == std::string_view::npos;
      number = 0;
      for (std::size_t i = 1; shaped && i < counter.size(); ++i) number = number * 10 + (counter[i] - '0');
    }
    if (shaped) found.emplace_back(rest.substr(0, Shape.size()), number, name);
  }
  std::sort(found.begin(), found.end(), [](const auto& a, const auto& b) { return a > b; });
  std::vector<std::string> newest;
  for (const auto& item : found) newest.emplace_back(std::get<2>(item));
  return newest;
}

}  // namespace zubra32
