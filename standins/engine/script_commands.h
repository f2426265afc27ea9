#pragma once

// The scripted Flutter side: reading script lines and writing transcript
// lines. Portable; the Windows library runs the commands.
//
// When TARVEX_ENGINE_SCRIPT names a file, the Windows library runs it after
// the engine's first frame, one line at a time on the platform thread, and
// writes to the file named by TARVEX_ENGINE_TRANSCRIPT (UTF-8, LF line ends,
// flushed per line). Script lines may end in CR LF; hex may be either case.
//
//   send <channel> <hex>   deliver the bytes (pairs, blanks between pairs
//                          allowed) and wait for the answer while window
//                          messages flow:
//                            reply <channel> [<hex>]
//                            unhandled <channel>      (nobody listens)
//                            noreply <channel>        (time-out: 120 s, or
//                                                      TARVEX_STANDIN_REPLY_TIMEOUT_MS)
//                            latereply <channel> [<hex>]  (after the time-out)
//   close                  post WM_CLOSE to the view's top-level window,
//                          write "end", ignore the rest of the script
//   dialogs accept         from now on write "dialog <caption> | <text> | icon <name>" for
//                          every message box and press its OK button ~200 ms
//                          after it appeared (backslash, CR and LF in them
//                          written as \\, \r and \n)
//   sleep <milliseconds>
//   window report          write the top-level window that holds the view:
//                            window <x> <y> <width> <height> visible|hidden
//                            client <width> <height>
//                            view <x> <y> <width> <height> focus|nofocus
//                          (one line; the view relative to the client area;
//                          "window none" when the view is in no window)
//   window resize <width> <height>   resize the top-level window (it keeps its place)
//   window focus           give the keyboard focus to the top-level window itself
//   window send <message> <wparam> <lparam>
//                          send a message to the top-level window and write
//                          "window result <result>"
//   window dpichanged <dpi> <left> <top> <right> <bottom>
//                          send WM_DPICHANGED with that suggested rectangle,
//                          then write "window result <result>"
//   services <name prefix> write one line "service <name> <state>" for every
//                          Win32 service (in any state) whose name starts
//                          with the prefix, compared case-insensitively as
//                          the Service Control Manager compares names, in
//                          name order; then "services <count>". State:
//                          STOPPED, START_PENDING, STOP_PENDING, RUNNING,
//                          CONTINUE_PENDING, PAUSE_PENDING or PAUSED. A
//                          manager that cannot be opened or read writes
//                          "services error <code>"
//   note <text>            write "note <text>": a marker for the reader
//   process report         write what the program's process holds, read
//                          inside it: "process handles <n> gdi <n> user <n>
//                          threads <n> committed <bytes> working <bytes>",
//                          "-" for a figure the system does not give
//   # ...                  a comment; blank lines are ignored too
// Numbers are decimal (a minus sign allowed where Windows allows one) or
// hexadecimal after "0x".
//
// A script that runs out writes "end"; a line that is not understood writes
// "error <line number> <reason>" and the script goes on. Messages the client
// sends are written as "host <channel> [<hex>]", with or without a script.
//
// With TARVEX_STANDIN_TIMES=1 every transcript line starts with its
// wall-clock time in Unix milliseconds and a blank, and each send first
// writes "sending <channel>", just before the message is delivered.
//
// Written with or without a script (the transcript is opened at the first
// call into the library that needs it, or when the library loads with
// TARVEX_STANDIN_ACCEPT_DIALOGS=1; an engine created after an earlier one
// starts it afresh):
//   engine assets "<path>" icu "<path>" aot "<path>" entrypoint "<text>"|null
//          arguments <count> ["<text>" ...]|null
//                          (one line) what reached FlutterDesktopEngineCreate;
//                          quoted texts escape \\, \", \r and \n
//   refused engine         the engine's assets folder is missing
//   refused viewcontroller (TARVEX_STANDIN_REFUSE_VIEW_CONTROLLER=1)
//   noregistrar <name>     (TARVEX_STANDIN_NO_REGISTRAR)
//   frame <n> <before> <after>   frame n was drawn; the top-level window's
//                          state before and after the next-frame callback:
//                          hidden, visible, parked (the view is in no
//                          window of the program) or gone
//   fonts reloaded
//   misuse <function>      a call with a handle the library has destroyed,
//                          a messenger after its last release, or a second
//                          destroy

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace standin {

struct ScriptCommand {
  enum class Kind {
    // A blank line or a comment.
    kNothing,
    // A line the stand-in does not understand; `reason` says why.
    kError,
    // send <channel> <hex>
    kSend,
    // close
    kClose,
    // dialogs accept
    kAcceptDialogs,
    // sleep <milliseconds>
    kSleep,
    // window <action> ...
    kWindow,
    // services <name prefix>
    kServices,
    // note <text>
    kNote,
    // process report
    kProcessReport,
  };
  enum class WindowAction { kReport, kResize, kFocus, kSend, kDpiChanged };
  Kind kind = Kind::kNothing;
  std::string channel;
  std::vector<uint8_t> message;
  uint32_t milliseconds = 0;
  WindowAction window_action = WindowAction::kReport;
  // The numbers after the action, in order.
  std::vector<int64_t> numbers;
  std::string reason;
  // The name prefix of services, the text of note.
  std::string text;
};

// The Win32 services whose name starts with a prefix, as the "services"
// script line reports them.
struct ServiceListing {
  // 0, or the error that kept the manager from being opened or read.
  uint32_t error = 0;
  struct Service {
    // UTF-8.
    std::string name;
    // SERVICE_STOPPED ... SERVICE_PAUSED.
    uint32_t state = 0;
  };
  // In name order.
  std::vector<Service> services;
};

// What the program's process holds, as the "process report" script line
// writes it; a figure the system does not give is left empty.
struct ProcessReport {
  std::optional<uint64_t> handles;
  std::optional<uint64_t> gdi_objects;
  std::optional<uint64_t> user_objects;
  std::optional<uint64_t> threads;
  std::optional<uint64_t> committed_bytes;
  std::optional<uint64_t> working_set_bytes;
};

// "process handles <n> gdi <n> user <n> threads <n> committed <bytes>
// working <bytes>", with "-" for each figure left empty.
std::string ProcessReportLine(const ProcessReport& report);

// The transcript name of a service state (SERVICE_STOPPED = 1 to
// SERVICE_PAUSED = 7); a state outside them as its number.
std::string ServiceStateName(uint32_t state);

// A decimal number (with a minus sign when `allow_negative`) or a hexadecimal
// one after "0x"; false for anything else.
bool ParseNumber(std::string_view word, bool allow_negative, int64_t* number);

// Reads one script line; a carriage return before the line end is dropped.
ScriptCommand ParseScriptLine(std::string_view line);

// Splits a script file into its lines (a final line feed ends the last line
// rather than starting an empty one).
std::vector<std::string> SplitScriptLines(std::string_view text);

// Lower-case hex, no blanks.
std::string FormatHex(const std::vector<uint8_t>& bytes);

// `prefix`, a blank and `channel`, then a blank and the hex of `bytes`
// unless they are empty: "reply <channel> <hex>", "host <channel> <hex>".
std::string ChannelLine(std::string_view prefix, std::string_view channel, const std::vector<uint8_t>& bytes);

// "dialog <caption> | <text>", with backslash, carriage return and line feed
// written as \\, \r and \n.
std::string DialogLine(std::string_view caption, std::string_view text);

// `text` in double quotes, with backslash, double quote, carriage return and
// line feed written as \\, \", \r and \n.
std::string Quoted(std::string_view text);

// The "engine ..." line for what reached FlutterDesktopEngineCreate; paths
// already in UTF-8, the rest as passed (null pointers written as null).
std::string EngineLine(std::string_view assets_path, std::string_view icu_data_path,
                       std::string_view aot_library_path, const char* entrypoint, int argument_count,
                       const char* const* arguments);

}  // namespace standin
