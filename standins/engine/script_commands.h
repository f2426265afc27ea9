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
//   dialogs accept         from now on write "dialog <caption> | <text>" for
//                          every message box and press its OK button ~200 ms
//                          after it appeared (backslash, CR and LF in them
//                          written as \\, \r and \n)
//   sleep <milliseconds>
//   # ...                  a comment; blank lines are ignored too
//
// A script that runs out writes "end"; a line that is not understood writes
// "error <line number> <reason>" and the script goes on. Messages the client
// sends are written as "host <channel> [<hex>]", with or without a script.

#include <cstdint>
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
  };
  Kind kind = Kind::kNothing;
  std::string channel;
  std::vector<uint8_t> message;
  uint32_t milliseconds = 0;
  std::string reason;
};

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

}  // namespace standin
