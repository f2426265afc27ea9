#include "standins/engine/script_runner.h"

#include <iostream>
#include <utility>

#include "standins/engine/dialog_watcher.h"
#include "standins/engine/win32_dispatcher.h"
#include "standins/engine/win32_process_report.h"
#include "standins/engine/win32_services.h"
#include "standins/engine/win32_view.h"
#include "standins/engine/win32_window_commands.h"

namespace standin {

namespace {

using Clock = std::chrono::steady_clock;

std::chrono::milliseconds Since(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
}

}  // namespace

ScriptRunner::ScriptRunner(uint64_t engine_serial, std::shared_ptr<Transcript> transcript,
                           std::vector<std::string> lines, std::chrono::milliseconds reply_timeout,
                           std::shared_ptr<ScriptObserver> observer)
    : engine_serial_(engine_serial),
      transcript_(std::move(transcript)),
      lines_(std::move(lines)),
      reply_timeout_(reply_timeout),
      observer_(std::move(observer)),
      answer_event_(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {}

ScriptRunner::~ScriptRunner() {
  if (answer_event_ != nullptr) {
    CloseHandle(answer_event_);
  }
}

void ScriptRunner::Start() {
  if (started_) {
    return;
  }
  started_ = true;
  std::weak_ptr<ScriptRunner> weak = shared_from_this();
  Dispatcher::Get().Post([weak] {
    if (std::shared_ptr<ScriptRunner> runner = weak.lock()) {
      runner->Step();
    }
  });
}

void ScriptRunner::Stop() {
  stopped_ = true;
  if (sleep_timer_ != 0) {
    Dispatcher::Get().StopTimer(sleep_timer_);
    sleep_timer_ = 0;
  }
  SetEvent(answer_event_);
}

void ScriptRunner::Step() {
  if (stepping_ || stopped_ || finished_) {
    return;
  }
  // Keeps this runner alive while window messages are dispatched inside a
  // send, during which the engine may go.
  std::shared_ptr<ScriptRunner> self = shared_from_this();
  stepping_ = true;
  while (!stopped_ && next_line_ < lines_.size()) {
    const size_t line_number = ++next_line_;
    const ScriptCommand command = ParseScriptLine(lines_[line_number - 1]);
    switch (command.kind) {
      case ScriptCommand::Kind::kNothing:
        break;
      case ScriptCommand::Kind::kError:
        transcript_->WriteLine("error " + std::to_string(line_number) + " " + command.reason);
        observer_->LineRefused(line_number, command.reason);
        break;
      case ScriptCommand::Kind::kSend:
        RunSend(command);
        break;
      case ScriptCommand::Kind::kClose:
        RunClose();
        stepping_ = false;
        return;
      case ScriptCommand::Kind::kAcceptDialogs:
        AcceptDialogs(transcript_);
        break;
      case ScriptCommand::Kind::kWindow:
        RunWindow(command);
        break;
      case ScriptCommand::Kind::kServices:
        RunServices(command);
        break;
      case ScriptCommand::Kind::kProcessReport:
        RunProcessReport();
        break;
      case ScriptCommand::Kind::kNote:
        transcript_->WriteLine(command.text.empty() ? std::string("note") : "note " + command.text);
        observer_->Noted(command.text);
        break;
      case ScriptCommand::Kind::kSleep: {
        std::weak_ptr<ScriptRunner> weak = self;
        sleep_timer_ = Dispatcher::Get().StartTimer(command.milliseconds, [weak] {
          if (std::shared_ptr<ScriptRunner> runner = weak.lock()) {
            runner->sleep_timer_ = 0;
            runner->Step();
          }
        });
        stepping_ = false;
        return;
      }
    }
  }
  if (!stopped_) {
    End();
  }
  stepping_ = false;
}

void ScriptRunner::End() {
  transcript_->WriteLine("end");
  finished_ = true;
  observer_->ScriptEnded();
}

void ScriptRunner::RunSend(const ScriptCommand& command) {
  FlutterDesktopEngine* engine = FindEngine(engine_serial_);
  if (engine == nullptr) {
    stopped_ = true;
    return;
  }
  if (transcript_->Timed()) {
    // The start of the call, for a reader that times it end to end.
    transcript_->WriteLine("sending " + command.channel);
  }
  observer_->Sending(command.channel, command.message);
  const Clock::time_point sent = Clock::now();
  std::weak_ptr<ScriptRunner> weak = shared_from_this();
  uint64_t delivery_id = 0;
  UINT_PTR timeout_timer = 0;
  const Delivery delivery = DeliverMessageWatched(engine, command.channel, command.message, [&](uint64_t id) {
    delivery_id = id;
    {
      std::lock_guard<std::mutex> guard(mutex_);
      Awaited& awaited = awaited_[id];
      awaited.channel = command.channel;
      awaited.sent = sent;
      awaited.deadline = sent + reply_timeout_;
    }
    // A timer rather than a check after the handler: a handler that
    // shows a modal box keeps dispatching messages, and the time-out is
    // written while it waits.
    timeout_timer = Dispatcher::Get().StartTimer(static_cast<UINT>(reply_timeout_.count()), [weak, id] {
      if (std::shared_ptr<ScriptRunner> runner = weak.lock()) {
        runner->OnReplyTimeout(id);
      }
    });
  });
  if (!delivery.handled) {
    // Nobody listens; the stand-in answers the message itself, with nothing.
    transcript_->WriteLine("unhandled " + command.channel);
    observer_->SendEnded(SendOutcome::kUnhandled, {}, Since(sent));
    return;
  }
  // The handler has returned. Wait for its answer, or the time-out, while
  // window messages keep flowing (a reply may come from one).
  for (;;) {
    DWORD wait_milliseconds = 0;
    {
      std::lock_guard<std::mutex> guard(mutex_);
      auto found = awaited_.find(delivery_id);
      if (found == awaited_.end() || found->second.state != AwaitState::kWaiting) {
        break;
      }
      const Clock::time_point now = Clock::now();
      if (now >= found->second.deadline) {
        TimeOutLocked(found->second);
        break;
      }
      wait_milliseconds = static_cast<DWORD>(
          std::chrono::duration_cast<std::chrono::milliseconds>(found->second.deadline - now).count() + 1);
    }
    if (stopped_) {
      break;
    }
    MsgWaitForMultipleObjectsEx(1, &answer_event_, wait_milliseconds, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    if (!PumpMessages()) {
      stopped_ = true;
      break;
    }
  }
  if (timeout_timer != 0) {
    Dispatcher::Get().StopTimer(timeout_timer);
  }
}

void ScriptRunner::RunWindow(const ScriptCommand& command) {
  FlutterDesktopEngine* engine = FindEngine(engine_serial_);
  HWND view = engine != nullptr && engine->controller != nullptr ? engine->controller->view.window : nullptr;
  const std::string line = RunWindowCommand(view, command);
  if (!line.empty()) {
    transcript_->WriteLine(line);
  }
}

void ScriptRunner::RunServices(const ScriptCommand& command) {
  const ServiceListing listing = ListServices(command.text);
  if (listing.error != 0) {
    transcript_->WriteLine("services error " + std::to_string(listing.error));
    observer_->ServicesListed(command.text, listing);
    return;
  }
  for (const ServiceListing::Service& service : listing.services) {
    transcript_->WriteLine("service " + service.name + " " + ServiceStateName(service.state));
  }
  transcript_->WriteLine("services " + std::to_string(listing.services.size()));
  observer_->ServicesListed(command.text, listing);
}

void ScriptRunner::RunProcessReport() {
  const std::string line = ProcessReportLine(ReportProcess());
  transcript_->WriteLine(line);
  observer_->ProcessReported(line);
}

void ScriptRunner::RunClose() {
  FlutterDesktopEngine* engine = FindEngine(engine_serial_);
  HWND view = nullptr;
  if (engine != nullptr && engine->controller != nullptr) {
    view = engine->controller->view.window;
  }
  HWND top_level = view != nullptr ? GetAncestor(view, GA_ROOT) : nullptr;
  if (top_level != nullptr && top_level != ParkingWindow()) {
    PostMessageW(top_level, WM_CLOSE, 0, 0);
  } else {
    std::cerr << "tarvex stand-in engine: close: the view is in no window" << std::endl;
  }
  End();
}

void ScriptRunner::OnReplyTimeout(uint64_t delivery_id) {
  {
    std::lock_guard<std::mutex> guard(mutex_);
    auto found = awaited_.find(delivery_id);
    if (found != awaited_.end() && found->second.state == AwaitState::kWaiting) {
      TimeOutLocked(found->second);
    }
  }
  SetEvent(answer_event_);
}

void ScriptRunner::TimeOutLocked(Awaited& awaited) {
  awaited.state = AwaitState::kTimedOut;
  transcript_->WriteLine("noreply " + awaited.channel);
  observer_->SendEnded(SendOutcome::kNoReply, {}, Since(awaited.sent));
}

void ScriptRunner::OnResponse(uint64_t delivery_id, const Reply& reply) {
  {
    std::lock_guard<std::mutex> guard(mutex_);
    auto found = awaited_.find(delivery_id);
    if (found == awaited_.end()) {
      return;
    }
    Awaited& awaited = found->second;
    // A handler that blocked without dispatching messages past the deadline
    // answered late, even though the timer could not fire in time.
    if (awaited.state == AwaitState::kWaiting && Clock::now() >= awaited.deadline) {
      TimeOutLocked(awaited);
    }
    const bool late = awaited.state != AwaitState::kWaiting;
    transcript_->WriteLine(ChannelLine(late ? "latereply" : "reply", awaited.channel, reply.bytes));
    observer_->SendEnded(late ? SendOutcome::kLateReply : SendOutcome::kReply, reply.bytes,
                         Since(awaited.sent));
    awaited_.erase(found);
  }
  SetEvent(answer_event_);
}

bool ScriptRunner::PumpMessages() {
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) {
      // The program is ending; its own loop must still see the quit.
      PostQuitMessage(static_cast<int>(message.wParam));
      return false;
    }
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  return true;
}

}  // namespace standin
