#include "tools/kor/options.h"

#include <charconv>
#include <string_view>

#include "tools/kor/kor_error.h"

namespace kor::tool {

const char* const kUsage =
    "usage: kor [--connect HOST:PORT] COMMAND [DIR] ...\n"
    "  kor tables|comparators|counters DIR [--json]\n"
    "  kor describe DIR TABLE [--json]\n"
    "  kor dump DIR TABLE [--order FIELD,...] [--where FIELD=VALUE]... [--limit N]\n"
    "                     [--csv|--json] [--progress]\n"
    "  kor load DIR TABLE FILE.csv [--commit-partial] [--progress]\n"
    "  kor check DIR\n"
    "With --connect HOST:PORT the engine is a korserver's and DIR is left out\n"
    "(check still needs it: it reads the table files there).";

namespace {

struct TCommandForm {
  std::string_view Name;
  int32_t Arguments;  // after DIR
  bool NeedsDir;      // even with --connect
};

constexpr TCommandForm kForms[] = {
    {"tables", 0, false}, {"comparators", 0, false}, {"counters", 0, false}, {"describe", 1, false},
    {"dump", 1, false},   {"load", 2, false},        {"check", 0, true},
};

[[noreturn]] void Usage(const std::string& problem) { throw TKorError(problem + "\n" + kUsage); }

std::vector<std::string> SplitList(std::string_view list) {
  std::vector<std::string> items;
  for (size_t start = 0;;) {
    const size_t comma = list.find(',', start);
    std::string_view item = list.substr(start, comma - start);
    if (item.empty()) Usage("--order: empty field name in \"" + std::string(list) + "\"");
    items.emplace_back(item);
    if (comma == std::string_view::npos) return items;
    start = comma + 1;
  }
}

}  // namespace

TOptions ParseOptions(int argc, char** argv) {
  TOptions options;
  std::vector<std::string> positional;
  bool csv = false;
  bool json = false;
  for (int i = 1; i < argc; ++i) {
    std::string_view arg = argv[i];
    std::string_view value;
    const size_t equals = arg.find('=');
    const bool hasInlineValue = arg.substr(0, 2) == "--" && equals != std::string_view::npos;
    if (hasInlineValue) {
      value = arg.substr(equals + 1);
      arg = arg.substr(0, equals);
    }
    // The value of an option that takes one: after "=" or the next argument.
    auto takeValue = [&]() -> std::string_view {
      if (hasInlineValue) return value;
      if (i + 1 >= argc) Usage(std::string(arg) + " needs a value");
      return argv[++i];
    };
    if (arg == "--connect") {
      options.Connect = takeValue();
    } else if (arg == "--order") {
      for (std::string& field : SplitList(takeValue())) options.Order.push_back(std::move(field));
    } else if (arg == "--where") {
      const std::string_view condition = takeValue();
      const size_t at = condition.find('=');
      if (at == std::string_view::npos || at == 0) Usage("--where needs FIELD=VALUE");
      options.Where.emplace_back(condition.substr(0, at), condition.substr(at + 1));
    } else if (arg == "--limit") {
      const std::string_view text = takeValue();
      auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), options.Limit);
      if (error != std::errc() || end != text.data() + text.size() || options.Limit < 0) {
        Usage("--limit needs a whole number of records, 0 or more");
      }
    } else if (arg == "--csv" && !hasInlineValue) {
      csv = true;
    } else if (arg == "--json" && !hasInlineValue) {
      json = true;
    } else if (arg == "--commit-partial" && !hasInlineValue) {
      options.CommitPartial = true;
    } else if (arg == "--progress" && !hasInlineValue) {
      options.Progress = true;
    } else if (arg.substr(0, 2) == "--" || arg == "-") {
      Usage("unknown option " + std::string(argv[i]));
    } else {
      positional.emplace_back(argv[i]);
    }
  }
  if (csv && json) Usage("--csv and --json exclude each other");
  if (csv) options.Format = TOutputFormat::Csv;
  if (json) options.Format = TOutputFormat::Json;
  if (positional.empty()) Usage("no command");

  options.Command = positional[0];
  const TCommandForm* form = nullptr;
  for (const TCommandForm& candidate : kForms) {
    if (candidate.Name == options.Command) form = &candidate;
  }
  if (form == nullptr) Usage("unknown command " + options.Command);
  const bool withDir = options.Connect.empty() || form->NeedsDir;
  const size_t expected = 1 + (withDir ? 1 : 0) + static_cast<size_t>(form->Arguments);
  if (positional.size() != expected) {
    Usage(options.Command + " takes " + std::to_string(expected - 1) + " argument" +
          (expected == 2 ? "" : "s") + (withDir ? " (DIR first)" : " (no DIR with --connect)"));
  }
  size_t next = 1;
  if (withDir) options.Dir = positional[next++];
  if (form->Arguments >= 1) options.Table = positional[next++];
  if (form->Arguments >= 2) options.File = positional[next++];

  const bool isDump = options.Command == "dump";
  if (!isDump && (!options.Order.empty() || !options.Where.empty() || options.Limit >= 0 || csv)) {
    Usage("--order, --where, --limit and --csv belong to dump");
  }
  if (json && (options.Command == "load" || options.Command == "check")) {
    Usage("--json does not apply to " + options.Command);
  }
  if (options.CommitPartial && options.Command != "load") Usage("--commit-partial belongs to load");
  if (options.Progress && !isDump && options.Command != "load") {
    Usage("--progress belongs to dump and load");
  }
  return options;
}

}  // namespace kor::tool
