#include "vpn_plugin/windows_vpn_plugin.h"

#include <exception>
#include <memory>
#include <string_view>
#include <utility>

#include "vpn_plugin/tunnel_naming.h"

namespace tarvex {

WindowsVpnPlugin::WindowsVpnPlugin(std::unique_ptr<WindowsApi> windows) : windows_(std::move(windows)) {}

WindowsVpnPlugin::~WindowsVpnPlugin() = default;

// The message boxes of the elevation are modal and keep dispatching window
// messages, and channel messages arrive through them: a call can come in
// while another is being handled. Run inside it, a stop could be undone by
// the start it interrupted. So it is held, with a copy of what it carries,
// and handled once the running call has replied, in arrival order. An
// exception that escapes a call does not strand the held ones: they are
// handled first, then the first exception goes on to the caller.
void WindowsVpnPlugin::HandleMethodCall(const MethodCall& call, std::unique_ptr<MethodResult> result) {
  if (handling_) {
    const flutter::EncodableValue* arguments = call.arguments();
    held_calls_.push_back(
        HeldCall{std::make_unique<MethodCall>(
                     call.method_name(),
                     arguments != nullptr ? std::make_unique<flutter::EncodableValue>(*arguments) : nullptr),
                 std::move(result)});
    return;
  }
  handling_ = true;
  std::exception_ptr escaped;
  try {
    Dispatch(call, std::move(result));
  } catch (...) {
    escaped = std::current_exception();
  }
  while (!held_calls_.empty()) {
    HeldCall next = std::move(held_calls_.front());
    held_calls_.pop_front();
    try {
      Dispatch(*next.call, std::move(next.result));
    } catch (...) {
      if (!escaped) {
        escaped = std::current_exception();
      }
    }
  }
  handling_ = false;
  if (escaped) {
    std::rethrow_exception(escaped);
  }
}

void WindowsVpnPlugin::Dispatch(const MethodCall& call, std::unique_ptr<MethodResult> result) {
  // The name comes from the channel as it was sent: escaped, so a name with
  // line breaks cannot add lines of its own to the log. The channel's own
  // names are plain ASCII and are logged unchanged.
  Log("WindowsVpnPlugin::HandleMethodCall called: " + EscapedForLog(call.method_name()));

  using Operation = void (WindowsVpnPlugin::*)(const MethodCall&, std::unique_ptr<MethodResult>);
  struct Row {
    std::string_view name;
    Operation operation;
  };
  static constexpr Row kDispatch[] = {
      {"startTunnel", &WindowsVpnPlugin::StartTunnel},
      {"stopTunnel", &WindowsVpnPlugin::StopTunnel},
      {"isConnected", &WindowsVpnPlugin::IsConnected},
  };

  for (const Row& row : kDispatch) {
    if (call.method_name() == row.name) {
      (this->*row.operation)(call, std::move(result));
      return;
    }
  }
  result->NotImplemented();
}

}  // namespace tarvex
