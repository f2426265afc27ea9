#include "standins/engine/script_display.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace standin {

namespace {

// UTF-8, written as escapes so that every compiler reads the source alike.
constexpr char kEllipsis[] = "\xE2\x80\xA6";
constexpr char kRightArrow[] = "\xE2\x86\x92";
constexpr char kLeftArrow[] = "\xE2\x86\x90";
constexpr char kMiddleDot[] = "\xC2\xB7";
constexpr char kDash[] = "\xE2\x80\x94";

// Strings longer than this, or with a line end, are cut.
constexpr size_t kLongString = 40;
constexpr size_t kStringCut = 32;
// Items shown of a list, a typed list or a map.
constexpr size_t kShownItems = 8;
// Past this much text a value is cut with an ellipsis.
constexpr size_t kTextBudget = 320;
// Nesting deeper than this is no message the stand-in shows.
constexpr int kMaxDepth = 64;
constexpr size_t kShownHexBytes = 16;

enum WireType : uint8_t {
  kNull = 0,
  kTrue = 1,
  kFalse = 2,
  kInt32 = 3,
  kInt64 = 4,
  kLargeInt = 5,
  kDouble = 6,
  kString = 7,
  kByteList = 8,
  kInt32List = 9,
  kInt64List = 10,
  kDoubleList = 11,
  kList = 12,
  kMap = 13,
  kFloatList = 14,
};

// The shortest text that reads back as `value`: as a double, or, for a
// float32 item (`as_float`), as a float, so 0.1f shows as 0.1.
std::string DoubleText(double value, int max_precision, bool as_float = false) {
  char text[40];
  for (int precision = 1; precision <= max_precision; ++precision) {
    std::snprintf(text, sizeof(text), "%.*g", precision, value);
    const double read = std::strtod(text, nullptr);
    if (as_float ? static_cast<float>(read) == static_cast<float>(value) : read == value) {
      break;
    }
  }
  std::string result = text;
  if (result.find_first_of(".eni") == std::string::npos) {
    result += ".0";
  }
  return result;
}

// `text` with backslash, double quote and control characters escaped.
void AppendEscaped(std::string& out, std::string_view text) {
  for (char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '\\' || c == '"') {
      out += '\\';
      out += c;
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\t') {
      out += "\\t";
    } else if (byte < 0x20 || byte == 0x7F) {
      char escaped[8];
      std::snprintf(escaped, sizeof(escaped), "\\x%02x", byte);
      out += escaped;
    } else {
      out += c;
    }
  }
}

// A string, quoted or not; a long one, or one of several lines, cut at its
// first line end or at kStringCut bytes (never inside a character), with
// its length.
void AppendString(std::string& out, std::string_view text, bool quoted = true) {
  const char* quote = quoted ? "\"" : "";
  const size_t line_end = text.find_first_of("\r\n");
  if (text.size() <= kLongString && line_end == std::string_view::npos) {
    out += quote;
    AppendEscaped(out, text);
    out += quote;
    return;
  }
  // At the first line end, or at kStringCut when that comes first (or there is none).
  size_t cut = std::min(line_end, kStringCut);
  // Back to the start of a UTF-8 character.
  while (cut > 0 && cut < text.size() && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) {
    --cut;
  }
  out += quote;
  AppendEscaped(out, text.substr(0, cut));
  out += quote;
  out += kEllipsis;
  out += " (" + std::to_string(text.size()) + " bytes)";
}

// Reads the standard codec's values from a message and writes them as text.
// Every read checks the bytes left, so any message is safe to describe.
class ValueReader {
 public:
  explicit ValueReader(const std::vector<uint8_t>& bytes) : bytes_(bytes) {}

  bool AtEnd() const { return position_ == bytes_.size(); }

  bool ReadByte(uint8_t* byte) {
    if (position_ >= bytes_.size()) {
      return false;
    }
    *byte = bytes_[position_++];
    return true;
  }

  // Reads one value; writes it to `out` unless that is null. False for
  // bytes that are no value.
  bool Value(std::string* out, int depth = 0) {
    uint8_t type = 0;
    if (depth > kMaxDepth || !ReadByte(&type)) {
      return false;
    }
    out = WithinBudget(out);
    switch (type) {
      case kNull:
        return Emit(out, "null");
      case kTrue:
        return Emit(out, "true");
      case kFalse:
        return Emit(out, "false");
      case kInt32: {
        uint64_t value = 0;
        return ReadLittleEndian(4, &value) &&
               Emit(out, std::to_string(static_cast<int32_t>(static_cast<uint32_t>(value))));
      }
      case kInt64: {
        uint64_t value = 0;
        return ReadLittleEndian(8, &value) && Emit(out, std::to_string(static_cast<int64_t>(value)));
      }
      case kDouble: {
        double value = 0;
        return Align(8) && ReadDouble(&value) && Emit(out, DoubleText(value, 17));
      }
      case kLargeInt:
      case kString: {
        std::string_view text;
        if (!ReadText(&text)) {
          return false;
        }
        if (out != nullptr) {
          // A large integer is its digits, unquoted, and as long as the
          // sender made it: cut like any long text.
          AppendString(*out, text, type == kString);
        }
        return true;
      }
      case kByteList:
        return TypedList(out, "bytes", 1, 1);
      case kInt32List:
        return TypedList(out, "int32", 4, 4);
      case kInt64List:
        return TypedList(out, "int64", 8, 8);
      case kFloatList:
        return TypedList(out, "float32", 4, 4);
      case kDoubleList:
        return TypedList(out, "float64", 8, 8);
      case kList:
      case kMap:
        return Collection(out, type == kMap, depth);
      default:
        return false;
    }
  }

  // A string value, or (when `null_allowed`) a null one, read as it is;
  // `text` is empty for null.
  bool RawString(std::string_view* text, bool null_allowed, bool* is_null) {
    uint8_t type = 0;
    if (!ReadByte(&type)) {
      return false;
    }
    *is_null = type == kNull;
    if (*is_null) {
      *text = std::string_view();
      return null_allowed;
    }
    return type == kString && ReadText(text);
  }

  // True when some text was left out for the budget.
  bool cut() const { return cut_; }

 private:
  // Null once the text has grown past the budget: the rest is read but not
  // shown.
  std::string* WithinBudget(std::string* out) {
    if (out != nullptr && out->size() > kTextBudget) {
      cut_ = true;
      return nullptr;
    }
    return out;
  }

  static bool Emit(std::string* out, std::string_view text) {
    if (out != nullptr) {
      out->append(text.data(), text.size());
    }
    return true;
  }

  bool ReadLittleEndian(size_t count, uint64_t* value) {
    if (bytes_.size() - position_ < count) {
      return false;
    }
    *value = 0;
    for (size_t i = 0; i < count; ++i) {
      *value |= static_cast<uint64_t>(bytes_[position_ + i]) << (8 * i);
    }
    position_ += count;
    return true;
  }

  bool ReadDouble(double* value) {
    uint64_t bits = 0;
    if (!ReadLittleEndian(8, &bits)) {
      return false;
    }
    std::memcpy(value, &bits, sizeof(bits));
    return true;
  }

  // Values wider than a byte start at a multiple of their width, counted
  // from the start of the message.
  bool Align(size_t width) {
    const size_t padding = (width - position_ % width) % width;
    if (bytes_.size() - position_ < padding) {
      return false;
    }
    position_ += padding;
    return true;
  }

  bool ReadSize(size_t* size) {
    uint8_t first = 0;
    if (!ReadByte(&first)) {
      return false;
    }
    uint64_t value = first;
    if (first == 254 && !ReadLittleEndian(2, &value)) {
      return false;
    }
    if (first == 255 && !ReadLittleEndian(4, &value)) {
      return false;
    }
    *size = static_cast<size_t>(value);
    return true;
  }

  bool ReadText(std::string_view* text) {
    size_t size = 0;
    if (!ReadSize(&size) || bytes_.size() - position_ < size) {
      return false;
    }
    *text = std::string_view(reinterpret_cast<const char*>(bytes_.data()) + position_, size);
    position_ += size;
    return true;
  }

  bool TypedList(std::string* out, const char* name, size_t width, size_t alignment) {
    size_t count = 0;
    if (!ReadSize(&count) || !Align(alignment) || (bytes_.size() - position_) / width < count) {
      return false;
    }
    const size_t start = position_;
    position_ += count * width;
    if (out == nullptr) {
      return true;
    }
    *out += name;
    *out += '[';
    for (size_t i = 0; i < count && i < kShownItems; ++i) {
      if (i > 0) {
        *out += width == 1 ? " " : ", ";
      }
      uint64_t bits = 0;
      for (size_t b = 0; b < width; ++b) {
        bits |= static_cast<uint64_t>(bytes_[start + i * width + b]) << (8 * b);
      }
      if (width == 1) {
        char hex[4];
        std::snprintf(hex, sizeof(hex), "%02x", static_cast<unsigned>(bits));
        *out += hex;
      } else if (std::strcmp(name, "float32") == 0) {
        float value = 0;
        const auto narrow = static_cast<uint32_t>(bits);
        std::memcpy(&value, &narrow, sizeof(value));
        *out += DoubleText(value, 9, true);
      } else if (std::strcmp(name, "float64") == 0) {
        double value = 0;
        std::memcpy(&value, &bits, sizeof(value));
        *out += DoubleText(value, 17);
      } else if (width == 4) {
        *out += std::to_string(static_cast<int32_t>(static_cast<uint32_t>(bits)));
      } else {
        *out += std::to_string(static_cast<int64_t>(bits));
      }
    }
    if (count > kShownItems) {
      *out += std::string(", ") + kEllipsis + " (" + std::to_string(count) + " items)";
    }
    *out += ']';
    return true;
  }

  bool Collection(std::string* out, bool is_map, int depth) {
    size_t count = 0;
    if (!ReadSize(&count)) {
      return false;
    }
    Emit(out, is_map ? "{" : "[");
    for (size_t i = 0; i < count; ++i) {
      std::string* shown = i < kShownItems ? WithinBudget(out) : nullptr;
      if (i > 0) {
        Emit(shown, ", ");
      }
      if (is_map) {
        if (!Value(shown, depth + 1)) {
          return false;
        }
        Emit(shown, ": ");
      }
      if (!Value(shown, depth + 1)) {
        return false;
      }
    }
    if (count > kShownItems) {
      Emit(out,
           std::string(", ") + kEllipsis + " (" + std::to_string(count) + (is_map ? " entries)" : " items)"));
    }
    return Emit(out, is_map ? "}" : "]");
  }

  const std::vector<uint8_t>& bytes_;
  size_t position_ = 0;
  bool cut_ = false;
};

std::string Finished(const ValueReader& reader, std::string text) {
  if (reader.cut()) {
    text += kEllipsis;
  }
  return text;
}

std::string ElapsedText(std::chrono::milliseconds elapsed, bool late) {
  return std::string("  (") + (late ? "late, " : "") + std::to_string(elapsed.count()) + " ms)";
}

// A success or error envelope as display text; false for bytes that are
// neither.
bool DescribeEnvelope(const std::vector<uint8_t>& reply, DisplayLine* line) {
  ValueReader reader(reply);
  uint8_t kind = 0;
  if (!reader.ReadByte(&kind)) {
    return false;
  }
  std::string text;
  if (kind == 0) {
    text = "success ";
    if (!reader.Value(&text) || !reader.AtEnd()) {
      return false;
    }
    line->tone = DisplayTone::kSuccess;
    line->text = Finished(reader, std::move(text));
    return true;
  }
  if (kind != 1) {
    return false;
  }
  // The code, the message (or null), the details, perhaps a stack trace.
  std::string_view code;
  std::string_view message;
  bool is_null = false;
  bool message_is_null = false;
  std::string details;
  if (!reader.RawString(&code, false, &is_null) || !reader.RawString(&message, true, &message_is_null) ||
      !reader.Value(&details)) {
    return false;
  }
  if (!reader.AtEnd() && (!reader.Value(nullptr) || !reader.AtEnd())) {
    return false;
  }
  text = "error ";
  AppendString(text, code, false);
  if (!message_is_null && !message.empty()) {
    text += ' ';
    AppendString(text, message, false);
  }
  if (details != "null") {
    text += ' ';
    text += details;
  }
  line->tone = DisplayTone::kError;
  line->text = Finished(reader, std::move(text));
  return true;
}

}  // namespace

std::string DescribeValue(const std::vector<uint8_t>& bytes) {
  ValueReader reader(bytes);
  std::string text;
  if (!reader.Value(&text) || !reader.AtEnd()) {
    return std::string();
  }
  return Finished(reader, std::move(text));
}

std::string ShortHex(const std::vector<uint8_t>& bytes) {
  if (bytes.empty()) {
    return "no bytes";
  }
  std::string text = "hex";
  for (size_t i = 0; i < bytes.size() && i < kShownHexBytes; ++i) {
    char hex[4];
    std::snprintf(hex, sizeof(hex), " %02x", bytes[i]);
    text += hex;
  }
  if (bytes.size() > kShownHexBytes) {
    text += std::string(" ") + kEllipsis + " (" + std::to_string(bytes.size()) + " bytes)";
  }
  return text;
}

std::string DescribeMethodCall(const std::vector<uint8_t>& message) {
  // The method name is a string, the arguments one value, and nothing after.
  ValueReader call(message);
  std::string_view method;
  bool is_null = false;
  std::string arguments;
  if (!call.RawString(&method, false, &is_null) || !call.Value(&arguments) || !call.AtEnd()) {
    return ShortHex(message);
  }
  std::string text;
  AppendString(text, method, false);
  if (arguments != "null") {
    text += ' ';
    text += arguments;
  }
  return Finished(call, std::move(text));
}

DisplayLine SendingLine(const std::vector<uint8_t>& message) {
  return {DisplayTone::kCall, std::string(kRightArrow) + " " + DescribeMethodCall(message)};
}

DisplayLine OutcomeLine(SendOutcome outcome, const std::vector<uint8_t>& reply,
                        std::chrono::milliseconds elapsed) {
  DisplayLine line;
  const bool late = outcome == SendOutcome::kLateReply;
  switch (outcome) {
    case SendOutcome::kUnhandled:
      line = {DisplayTone::kQuiet, "unhandled"};
      break;
    case SendOutcome::kNoReply:
      line = {DisplayTone::kError, "no reply"};
      break;
    case SendOutcome::kReply:
    case SendOutcome::kLateReply:
      if (reply.empty()) {
        line = {DisplayTone::kQuiet, "not implemented"};
      } else if (!DescribeEnvelope(reply, &line)) {
        line = {DisplayTone::kQuiet, ShortHex(reply)};
      }
      break;
  }
  line.text = std::string(kLeftArrow) + " " + line.text + ElapsedText(elapsed, late);
  return line;
}

std::vector<DisplayLine> ServiceLines(const std::string& prefix, const ServiceListing& listing) {
  if (listing.error != 0) {
    return {{DisplayTone::kError, "services " + prefix + ": error " + std::to_string(listing.error)}};
  }
  if (listing.services.empty()) {
    return {{DisplayTone::kService, "services " + prefix + ": none"}};
  }
  std::vector<DisplayLine> lines;
  for (const ServiceListing::Service& service : listing.services) {
    lines.push_back(
        {DisplayTone::kService, "service " + service.name + " " + ServiceStateName(service.state)});
  }
  return lines;
}

DisplayLine NoteLine(const std::string& text) {
  return {DisplayTone::kNote,
          text.empty() ? std::string(kDash) : std::string(kDash) + " " + text + " " + kDash};
}

ViewLog::ViewLog(bool has_script) : has_script_(has_script) {}

ViewLog::Snapshot ViewLog::Take() {
  std::lock_guard<std::mutex> guard(mutex_);
  Snapshot snapshot;
  snapshot.status = std::string(!has_script_ ? "no script"
                                : ended_     ? "script ended"
                                             : "script running") +
                    " " + kMiddleDot + " engine stand-in, frame " + std::to_string(frame_);
  snapshot.lines.assign(lines_.begin(), lines_.end());
  return snapshot;
}

void ViewLog::SetChanged(std::function<void()> changed) {
  std::lock_guard<std::mutex> guard(mutex_);
  changed_ = std::move(changed);
}

void ViewLog::Change(const std::function<void()>& change) {
  std::function<void()> changed;
  {
    std::lock_guard<std::mutex> guard(mutex_);
    change();
    changed = changed_;
  }
  if (changed) {
    changed();
  }
}

void ViewLog::AddLocked(DisplayLine line) {
  lines_.push_back(std::move(line));
  while (lines_.size() > kKeptLines) {
    lines_.pop_front();
  }
}

void ViewLog::SetFrame(int frame_number) {
  Change([&] { frame_ = frame_number; });
}

void ViewLog::ScriptEnded() {
  Change([&] { ended_ = true; });
}

void ViewLog::Sending(const std::string& /*channel*/, const std::vector<uint8_t>& message) {
  DisplayLine line = SendingLine(message);
  Change([&] { AddLocked(std::move(line)); });
}

void ViewLog::SendEnded(SendOutcome outcome, const std::vector<uint8_t>& reply,
                        std::chrono::milliseconds elapsed) {
  DisplayLine line = OutcomeLine(outcome, reply, elapsed);
  Change([&] { AddLocked(std::move(line)); });
}

void ViewLog::ServicesListed(const std::string& prefix, const ServiceListing& listing) {
  std::vector<DisplayLine> lines = ServiceLines(prefix, listing);
  Change([&] {
    for (DisplayLine& line : lines) {
      AddLocked(std::move(line));
    }
  });
}

void ViewLog::Noted(const std::string& text) {
  DisplayLine line = NoteLine(text);
  Change([&] { AddLocked(std::move(line)); });
}

void ViewLog::ProcessReported(const std::string& line) {
  DisplayLine shown{DisplayTone::kService, line};
  Change([&] { AddLocked(std::move(shown)); });
}

void ViewLog::LineRefused(size_t line_number, const std::string& reason) {
  DisplayLine line{DisplayTone::kError, "script line " + std::to_string(line_number) + ": " + reason};
  Change([&] { AddLocked(std::move(line)); });
}

}  // namespace standin
