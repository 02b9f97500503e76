// kxctl: the KX controllers from the command line. Parses the command line,
// opens the chosen port through the program's port map, runs the command's job
// in a Qt event loop (the port's events arrive there, as in the windows), and
// prints the result as a table or as JSON.
#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimer>

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "kxctl/command_line.h"
#include "kxctl/commands.h"
#include "kxctl/line.h"
#include "kxctl/line_choice.h"
#include "kxctl/stats_job.h"
#include "kxctl/timed_port.h"
#include "serial/port_map.h"

namespace {

int g_signalPipe[2] = {-1, -1};

extern "C" void OnSignal(int) {
  const char c = 1;
  [[maybe_unused]] const ssize_t n = ::write(g_signalPipe[1], &c, 1);
}

// The progress line on stderr, redrawn in place at most ten times a second,
// only when stderr is a terminal.
class ProgressLine {
 public:
  ProgressLine() : tty_(::isatty(STDERR_FILENO) == 1) {}
  void Show(const std::string& text) {
    if (!tty_ || text.empty()) return;
    const auto now = std::chrono::steady_clock::now();
    if (shown_ && now - last_ < std::chrono::milliseconds(100)) return;
    last_ = now;
    shown_ = true;
    std::fprintf(stderr, "\r%s\033[K", text.c_str());
    std::fflush(stderr);
  }
  void Clear() {
    if (!shown_) return;
    std::fprintf(stderr, "\r\033[K");
    std::fflush(stderr);
    shown_ = false;
  }

 private:
  bool tty_;
  bool shown_ = false;
  std::chrono::steady_clock::time_point last_;
};

// The jobs' repeating timer (the recorder's sampling), on a Qt timer.
class JobTimer final : public kx::recorder::RecorderTimer {
 public:
  explicit JobTimer(std::function<void()> fired) {
    timer_.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer_, &QTimer::timeout, std::move(fired));
  }
  void StartTimer(int intervalMs) override { timer_.start(intervalMs); }
  void StopTimer() override { timer_.stop(); }

 private:
  QTimer timer_;
};

// The port's own texts name a mapped line "COM1 (/dev/ttyUSB0)"; a line given
// to kxctl as a path or an address is named as it was given.
std::string Shown(std::string text, const kxctl::LineChoice& choice) {
  if (choice.portName.rfind("COM", 0) == 0) return text;
  const std::string mapped = "COM" + std::to_string(choice.com) + " (" + choice.portName + ")";
  for (std::size_t at = text.find(mapped); at != std::string::npos; at = text.find(mapped, at + choice.portName.size()))
    text.replace(at, mapped.size(), choice.portName);
  return text;
}

std::int64_t SteadyMicros() {
  return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

int Run(int argc, char** argv, const kxctl::Invocation& invocation) {
  QCoreApplication app(argc, argv);

  const auto chosen = kxctl::ChooseLine(invocation.global, std::filesystem::current_path().string(),
                                        kx::serial::ActivePortPaths());
  if (const auto* error = std::get_if<std::string>(&chosen)) {
    std::cerr << "kxctl: " << *error << "\n";
    return kxctl::kExitFailed;
  }
  const kxctl::LineChoice& choice = std::get<kxctl::LineChoice>(chosen);

  // What the command can do on a line behind a network server.
  kxctl::CommandArgs args = invocation.args;
  std::vector<std::string> notes;
  const auto address = kx::ParsePortAddress(choice.paths[static_cast<std::size_t>(choice.com)]);
  const std::string refusal = kxctl::FitToTransport(args, address ? address->transport : kx::LineTransport::Device,
                                                    choice.format, notes);
  if (!refusal.empty()) {
    std::cerr << "kxctl: " << refusal << "\n";
    return kxctl::kExitFailed;
  }
  for (const std::string& note : notes) std::cerr << "kxctl: " << note << "\n";

  kxctl::TimedPort port(kx::serial::MakeMappedPort(choice.paths));
  kxctl::Line line(port, [&port](int ms) { port.SetTickMs(ms); });
  ProgressLine progress;
  // The port's traffic: traced on stderr (--trace) and measured (stats).
  std::optional<kx::TrafficLog> traffic;
  if (invocation.global.trace || std::holds_alternative<kxctl::StatsArgs>(args)) {
    traffic.emplace();
    if (invocation.global.trace) {
      const std::int64_t toTimeOfDay = kx::TimeOfDayOffsetMicros();
      traffic->SetOnFrame([&progress, toTimeOfDay](const kx::TrafficFrame& frame) {
        progress.Clear();
        std::cerr << kx::TraceLine(frame, frame.micros + toTimeOfDay) << "\n";
      });
    }
    line.SetTraffic(&*traffic);
  }
  std::string error;
  if (!line.Open(choice, error)) {
    error = Shown(error, choice);
    // The port's text names the line already, as a rule.
    if (error.find(choice.portName) == std::string::npos) error = choice.portName + ": " + error;
    std::cerr << "kxctl: " << error << "\n";
    return kxctl::kExitFailed;
  }

  std::unique_ptr<kxctl::Job> job;
  // A job that ends with a request in flight (interrupted) lets that request
  // end first, by its answer or its time-out, so the answer does not reach
  // the next program on the line as a stray reply.
  bool settling = false;
  std::function<void()> afterStep = [&] {
    for (std::string note = job->TakeNote(); !note.empty(); note = job->TakeNote()) {
      progress.Clear();
      std::cerr << "kxctl: " << Shown(note, choice) << "\n";
    }
    if (job->Done()) {
      settling = line.Pending();
      if (!settling) app.quit();
    } else {
      progress.Show(job->Progress());
    }
  };
  JobTimer timer([&] {
    job->TimerFired();
    afterStep();
  });
  job = kxctl::MakeJob(args,
                       kxctl::JobContext{line, port, kxctl::ParamsOfFormat(choice.format, choice.com), timer,
                                                         traffic ? &*traffic : nullptr});
  port.SetOnTrigger([&](kx::ComPort&, const kx::PortEvent& event) {
    if (settling) {
      (void)line.Handle(event);
    } else {
      job->Handle(event);
    }
    afterStep();
  });
  port.SetOnError([&](const std::string& text) {
    if (settling) {
      line.LineLost();
      app.quit();
      return;
    }
    const std::string shown = Shown(text, choice);
    job->LineLost(shown.find(choice.portName) == std::string::npos ? choice.portName + ": " + shown : shown);
    afterStep();
  });

  // Ctrl-C, SIGTERM, a hang-up and SIGQUIT end the job between two events,
  // as a whole: what it took is written, temporary files and the port's lock go.
  QSocketNotifier signalNotifier(g_signalPipe[0], QSocketNotifier::Read);
  QObject::connect(&signalNotifier, &QSocketNotifier::activated, [&] {
    char c;
    while (::read(g_signalPipe[0], &c, 1) > 0) {
    }
    if (settling) {  // a second signal does not wait
      app.quit();
      return;
    }
    job->Interrupt();
    afterStep();
  });

  QTimer::singleShot(0, [&] {
    job->Start();
    afterStep();
  });
  app.exec();
  progress.Clear();
  if (traffic) traffic->Settle(SteadyMicros());  // a request still waiting is traced as unanswered
  line.Close();
  line.SetTraffic(nullptr);

  const kxctl::Outcome outcome = job->Result();
  // The job refers to the timer (a flash job stops it when it goes): it goes
  // first, while the timer, made after it, still exists.
  job.reset();
  if (invocation.global.json) {
    if (outcome.json) std::cout << outcome.json->Dump();
  } else {
    std::cout << outcome.table;
  }
  std::cout.flush();
  if (outcome.status != kxctl::kExitOk && !outcome.error.empty())
    std::cerr << "kxctl: " << Shown(outcome.error, choice) << "\n";
  return outcome.status;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  const kxctl::ParseResult parsed = kxctl::ParseCommandLine(args);
  if (parsed.help) {
    std::cout << kxctl::UsageText();
    return kxctl::kExitOk;
  }
  if (parsed.version) {
    std::cout << "kxctl 1.0.0\n";
    return kxctl::kExitOk;
  }
  if (!parsed.invocation) {
    std::cerr << "kxctl: " << parsed.error << "\n" << kxctl::UsageLine(parsed.command);
    return kxctl::kExitUsage;
  }

  if (::pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) return kxctl::kExitFailed;
  struct sigaction sa {};
  sa.sa_handler = OnSignal;
  for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) sigaction(signal, &sa, nullptr);
  // A closed stdout or stderr (the terminal gone with a hang-up) fails the
  // write instead of killing the job before it has saved its work.
  std::signal(SIGPIPE, SIG_IGN);
  return Run(argc, argv, *parsed.invocation);
}
