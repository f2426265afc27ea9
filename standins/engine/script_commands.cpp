#include "standins/engine/script_commands.h"

#include <cstddef>
#include <utility>

namespace standin {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

int HexDigit(char c) {
  if (c >= '0' && c <= '9') {
    return c - '0';
  }
  if (c >= 'a' && c <= 'f') {
    return c - 'a' + 10;
  }
  if (c >= 'A' && c <= 'F') {
    return c - 'A' + 10;
  }
  return -1;
}

// The next blank-separated word of `rest`, which is advanced past it.
std::string_view NextWord(std::string_view& rest) {
  size_t start = 0;
  while (start < rest.size() && IsBlank(rest[start])) {
    ++start;
  }
  size_t end = start;
  while (end < rest.size() && !IsBlank(rest[end])) {
    ++end;
  }
  std::string_view word = rest.substr(start, end - start);
  rest.remove_prefix(end);
  return word;
}

bool OnlyBlanks(std::string_view text) {
  for (char c : text) {
    if (!IsBlank(c)) {
      return false;
    }
  }
  return true;
}

ScriptCommand Error(std::string reason) {
  ScriptCommand command;
  command.kind = ScriptCommand::Kind::kError;
  command.reason = std::move(reason);
  return command;
}

ScriptCommand ParseSend(std::string_view rest) {
  ScriptCommand command;
  command.kind = ScriptCommand::Kind::kSend;
  command.channel = std::string(NextWord(rest));
  if (command.channel.empty()) {
    return Error("send needs a channel");
  }
  // Hex pairs; blanks may separate pairs but not the two digits of one.
  size_t i = 0;
  while (i < rest.size()) {
    if (IsBlank(rest[i])) {
      ++i;
      continue;
    }
    const int high = HexDigit(rest[i]);
    const int low = i + 1 < rest.size() ? HexDigit(rest[i + 1]) : -1;
    if (high < 0 || low < 0) {
      return Error("send: bad hex at column " + std::to_string(i + 1) + " of the message");
    }
    command.message.push_back(static_cast<uint8_t>(high * 16 + low));
    i += 2;
  }
  return command;
}

ScriptCommand ParseSleep(std::string_view rest) {
  std::string_view number = NextWord(rest);
  if (number.empty() || !OnlyBlanks(rest)) {
    return Error("sleep needs one number of milliseconds");
  }
  uint64_t milliseconds = 0;
  for (char c : number) {
    if (c < '0' || c > '9') {
      return Error("sleep needs one number of milliseconds");
    }
    milliseconds = milliseconds * 10 + static_cast<uint64_t>(c - '0');
    // A day is more than any script should wait.
    if (milliseconds > 86400000) {
      return Error("sleep: more than a day");
    }
  }
  ScriptCommand command;
  command.kind = ScriptCommand::Kind::kSleep;
  command.milliseconds = static_cast<uint32_t>(milliseconds);
  return command;
}

}  // namespace

bool ParseNumber(std::string_view word, bool allow_negative, int64_t* number) {
  bool negative = false;
  if (allow_negative && !word.empty() && word.front() == '-') {
    negative = true;
    word.remove_prefix(1);
  }
  int base = 10;
  if (word.size() > 2 && word[0] == '0' && (word[1] == 'x' || word[1] == 'X')) {
    base = 16;
    word.remove_prefix(2);
  }
  if (word.empty() || word.size() > 15) {
    return false;
  }
  int64_t value = 0;
  for (char c : word) {
    const int digit = HexDigit(c);
    if (digit < 0 || digit >= base) {
      return false;
    }
    value = value * base + digit;
  }
  *number = negative ? -value : value;
  return true;
}

namespace {

ScriptCommand ParseWindow(std::string_view rest) {
  struct Action {
    std::string_view name;
    ScriptCommand::WindowAction action;
    size_t number_count;
    std::string_view usage;
  };
  static const Action kActions[] = {
      {"report", ScriptCommand::WindowAction::kReport, 0, "window report"},
      {"resize", ScriptCommand::WindowAction::kResize, 2, "window resize <width> <height>"},
      {"focus", ScriptCommand::WindowAction::kFocus, 0, "window focus"},
      {"send", ScriptCommand::WindowAction::kSend, 3, "window send <message> <wparam> <lparam>"},
      {"dpichanged", ScriptCommand::WindowAction::kDpiChanged, 5,
       "window dpichanged <dpi> <left> <top> <right> <bottom>"},
  };
  const std::string_view name = NextWord(rest);
  for (const Action& action : kActions) {
    if (action.name != name) {
      continue;
    }
    ScriptCommand command;
    command.kind = ScriptCommand::Kind::kWindow;
    command.window_action = action.action;
    for (std::string_view word = NextWord(rest); !word.empty(); word = NextWord(rest)) {
      int64_t number = 0;
      // Only an lparam or a rectangle's edge may be negative.
      const bool allow_negative =
          action.action == ScriptCommand::WindowAction::kDpiChanged
              ? !command.numbers.empty()
              : action.action == ScriptCommand::WindowAction::kSend && command.numbers.size() == 2;
      if (!ParseNumber(word, allow_negative, &number)) {
        return Error("usage: " + std::string(action.usage));
      }
      command.numbers.push_back(number);
    }
    if (command.numbers.size() != action.number_count) {
      return Error("usage: " + std::string(action.usage));
    }
    return command;
  }
  return Error("window: unknown action \"" + std::string(name) + "\"");
}

}  // namespace

ScriptCommand ParseScriptLine(std::string_view line) {
  if (!line.empty() && line.back() == '\r') {
    line.remove_suffix(1);
  }
  std::string_view rest = line;
  std::string_view word = NextWord(rest);
  if (word.empty() || word.front() == '#') {
    return ScriptCommand();
  }
  if (word == "send") {
    return ParseSend(rest);
  }
  if (word == "close") {
    if (!OnlyBlanks(rest)) {
      return Error("close takes nothing after it");
    }
    ScriptCommand command;
    command.kind = ScriptCommand::Kind::kClose;
    return command;
  }
  if (word == "dialogs") {
    std::string_view what = NextWord(rest);
    if (what != "accept" || !OnlyBlanks(rest)) {
      return Error("dialogs: only \"dialogs accept\" is known");
    }
    ScriptCommand command;
    command.kind = ScriptCommand::Kind::kAcceptDialogs;
    return command;
  }
  if (word == "sleep") {
    return ParseSleep(rest);
  }
  if (word == "window") {
    return ParseWindow(rest);
  }
  if (word == "process") {
    if (NextWord(rest) != "report" || !OnlyBlanks(rest)) {
      return Error("process: only \"process report\" is known");
    }
    ScriptCommand command;
    command.kind = ScriptCommand::Kind::kProcessReport;
    return command;
  }
  if (word == "services" || word == "note") {
    // The rest of the line, without the blanks around it: a service name
    // may hold blanks, and so may a note.
    const size_t first = rest.find_first_not_of(" \t");
    const std::string_view text = first == std::string_view::npos
                                      ? std::string_view()
                                      : rest.substr(first, rest.find_last_not_of(" \t") + 1 - first);
    ScriptCommand command;
    if (word == "services") {
      if (text.empty()) {
        return Error("services needs a name prefix");
      }
      command.kind = ScriptCommand::Kind::kServices;
    } else {
      command.kind = ScriptCommand::Kind::kNote;
    }
    command.text = std::string(text);
    return command;
  }
  return Error("unknown command \"" + std::string(word) + "\"");
}

std::string ServiceStateName(uint32_t state) {
  static const char* const kNames[] = {"STOPPED",          "START_PENDING", "STOP_PENDING", "RUNNING",
                                       "CONTINUE_PENDING", "PAUSE_PENDING", "PAUSED"};
  if (state >= 1 && state <= 7) {
    return kNames[state - 1];
  }
  return std::to_string(state);
}

std::string ProcessReportLine(const ProcessReport& report) {
  const struct {
    const char* name;
    const std::optional<uint64_t>& figure;
  } kFigures[] = {{"handles", report.handles},           {"gdi", report.gdi_objects},
                  {"user", report.user_objects},         {"threads", report.threads},
                  {"committed", report.committed_bytes}, {"working", report.working_set_bytes}};
  std::string line = "process";
  for (const auto& [name, figure] : kFigures) {
    line += ' ';
    line += name;
    line += ' ';
    line += figure ? std::to_string(*figure) : "-";
  }
  return line;
}

std::vector<std::string> SplitScriptLines(std::string_view text) {
  // A byte-order mark that an editor put in front is not part of a command.
  if (text.substr(0, 3) == "\xEF\xBB\xBF") {
    text.remove_prefix(3);
  }
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) {
      end = text.size();
    }
    lines.emplace_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

std::string FormatHex(const std::vector<uint8_t>& bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(bytes.size() * 2);
  for (uint8_t byte : bytes) {
    hex.push_back(kDigits[byte >> 4]);
    hex.push_back(kDigits[byte & 0x0F]);
  }
  return hex;
}

std::string ChannelLine(std::string_view prefix, std::string_view channel,
                        const std::vector<uint8_t>& bytes) {
  std::string line(prefix);
  line += ' ';
  line += channel;
  if (!bytes.empty()) {
    line += ' ';
    line += FormatHex(bytes);
  }
  return line;
}

namespace {

void AppendEscaped(std::string& line, std::string_view text) {
  for (char c : text) {
    if (c == '\\') {
      line += "\\\\";
    } else if (c == '\r') {
      line += "\\r";
    } else if (c == '\n') {
      line += "\\n";
    } else {
      line += c;
    }
  }
}

}  // namespace

std::string DialogLine(std::string_view caption, std::string_view text) {
  std::string line = "dialog ";
  AppendEscaped(line, caption);
  line += " | ";
  AppendEscaped(line, text);
  return line;
}

std::string Quoted(std::string_view text) {
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '"') {
      quoted += "\\\"";
    } else {
      AppendEscaped(quoted, std::string_view(&c, 1));
    }
  }
  quoted += '"';
  return quoted;
}

std::string EngineLine(std::string_view assets_path, std::string_view icu_data_path,
                       std::string_view aot_library_path, const char* entrypoint, int argument_count,
                       const char* const* arguments) {
  const auto quoted_or_null = [](const char* text) -> std::string {
    return text != nullptr ? Quoted(text) : "null";
  };
  std::string line = "engine assets " + Quoted(assets_path) + " icu " + Quoted(icu_data_path) + " aot " +
                     Quoted(aot_library_path) + " entrypoint " + quoted_or_null(entrypoint) + " arguments " +
                     std::to_string(argument_count);
  if (arguments == nullptr) {
    return line + " null";
  }
  for (int i = 0; i < argument_count; ++i) {
    line += ' ';
    line += quoted_or_null(arguments[i]);
  }
  return line;
}

}  // namespace standin
