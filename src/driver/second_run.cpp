#include "driver/second_run.h"

#include <algorithm>
#include <map>
#include <optional>
#include <tuple>

#include "deflang/directive.h"
#include "deflang/expansion.h"
#include "driver/read_loop.h"
#include "runtime/platform.h"
#include "runtime/text_file.h"
#include "workfile/edit_operations.h"
#include "workfile/workfile_text.h"

namespace zubra32 {

namespace {

// The write-back of a run in memory: each Workfile starts from the text it
// is given (or its own earlier section's, or the file's), and what its
// sections would leave is kept, with the lines that changed it.
class InMemoryWriteBack final : public WriteBackStrategy {
 public:
  explicit InMemoryWriteBack(const std::map<std::string, std::string>& first) : First(first) {}

  bool WritesFiles() const override { return false; }

  std::optional<std::string_view> SourceText(const WorkBuffer& work) override {
    return Known(platform::ResolvedName(work.Current.Name()));
  }

  WriteBackResult WriteBack(Reporting&, WorkBuffer& work) override {
    // A Workfile the run cannot write is never changed by it, the second time either.
    if (!work.Current.File().CanReplace()) return WriteBackResult::Unwritable;
    std::string key = platform::ResolvedName(work.Current.Name());
    std::optional<std::string_view> old = Known(key);
    std::optional<std::string> disk;
    if (!old && (disk = ReadHeldBytes(work.Current.File()))) old = *disk;
    if (!old) return WriteBackResult::Done;
    auto [base, first] = Base.try_emplace(key, *old);
    if (first) Order.push_back({work.Current.Name(), key, {}});
    std::string bytes = WriteBackText(work);
    if (bytes != *old) {
      auto entry = std::find_if(Order.begin(), Order.end(), [&](const ChangesAgain& e) { return e.Key == key; });
      entry->Name = work.Current.Name();
      entry->Lines.insert(entry->Lines.end(), SectionLines.begin(), SectionLines.end());
      // A change no directive made by itself (the write-back's own form) is the section's.
      if (SectionLines.empty()) entry->Lines.push_back(SectionLine);
    }
    Own[key] = std::move(bytes);
    return WriteBackResult::Done;
  }

  // The Workfiles whose bytes at the end differ from where the run began, and every text it leaves.
  RunInMemory Result() {
    std::erase_if(Order, [&](const ChangesAgain& entry) { return Own[entry.Key] == Base[entry.Key]; });
    for (ChangesAgain& entry : Order) {
      std::sort(entry.Lines.begin(), entry.Lines.end());
      entry.Lines.erase(std::unique(entry.Lines.begin(), entry.Lines.end()), entry.Lines.end());
    }
    return {std::move(Order), std::move(Own)};
  }

  std::vector<std::int64_t> SectionLines;  // lines of the current section whose directives changed its text
  std::int64_t SectionLine = 0;            // the current section's own line

 private:
  std::optional<std::string_view> Known(const std::string& key) const {
    if (auto own = Own.find(key); own != Own.end()) return own->second;
    if (auto first = First.find(key); first != First.end()) return first->second;
    return std::nullopt;
  }

  const std::map<std::string, std::string>& First;
  std::map<std::string, std::string> Own, Base;
  std::vector<ChangesAgain> Order;
};

}  // namespace

RunInMemory RunDefinitionInMemory(std::string_view definitionFileName,
                                  const std::map<std::string, std::string>& start) {
  TextFile silent;  // never opened: the second run's lines go nowhere
  Reporting report;
  report.Console = &silent;
  report.DefinitionFileName = definitionFileName;
  InMemoryWriteBack writeBack(start);
  WorkBuffer work;
  TextFile file;
  file.OpenRead(definitionFileName);
  file.LimitLine(MaxDefinitionLineBytes);
  std::string line;
  while (!file.Failed() && !file.Eof()) {
    file.ReadLine(line);
    ++report.DefinitionLineNumber;
    PassStages(line, {
                         [&](std::string& text) { ExpandVariables(text, report); },
                         [&] { report.DebugMode = true; },
                         [&](std::string_view text) {
                           SwitchWorkfile(report, work, text, writeBack);
                           writeBack.SectionLines.clear();
                           writeBack.SectionLine = report.DefinitionLineNumber;
                         },
                         [&](std::string_view text) {
                           Directive directive = ClassifyDirective(text);
                           auto state = [&] {
                             return std::tuple{work.HeadCount(), work.TailCount(), work.BodyLines.TextChanges()};
                           };
                           auto before = state();
                           if (directive.Kind != DirectiveKind::None) ApplyDirective(report, work, directive);
                           if (!work.Current.Empty() && state() != before)
                             writeBack.SectionLines.push_back(report.DefinitionLineNumber);
                         },
                     });
  }
  if (file.Failed()) return {};
  CloseWorkfile(report, work, writeBack);
  return writeBack.Result();
}

}  // namespace zubra32
