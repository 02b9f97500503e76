// One command's work on the line. The runner sends nothing itself: it starts
// the job, hands it every event of the port, and stops when the job is done.
// A job sends at most one request at a time, through the core's exchange.
#pragma once

#include <deque>
#include <functional>
#include <optional>
#include <string>

#include "core/exchange/exchange.h"
#include "core/line/comport.h"
#include "core/line/session.h"
#include "core/recorder/recorder_types.h"
#include "core/traffic/traffic_log.h"
#include "kxctl/json.h"
#include "kxctl/line.h"

namespace kxctl {

// Exit statuses.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;  // no valid answer, or a step failed
inline constexpr int kExitUsage = 2;

// What a command prints and returns.
struct Outcome {
  int status = kExitOk;
  std::string error;         // for stderr when status is not 0
  std::optional<Json> json;  // the --json document (nothing: print none)
  std::string table;         // the readable output for stdout
};

class Job {
 public:
  virtual ~Job() = default;
  // Sends the first request (or finishes at once).
  virtual void Start() = 0;
  // An event of the port.
  virtual void Handle(const kx::PortEvent& event) = 0;
  // The open line failed (the port has closed itself); `text` says why.
  virtual void LineLost(const std::string& text) = 0;
  // Ctrl-C or SIGTERM: no further request; the job ends now.
  virtual void Interrupt() = 0;
  // The job's repeating timer (JobContext::timer) fired.
  virtual void TimerFired() {}
  virtual bool Done() const = 0;
  virtual Outcome Result() const = 0;
  // One line telling how far long work is; empty for short commands.
  virtual std::string Progress() const { return {}; }
  // The next message for stderr that does not end the job (a failed sample);
  // empty when there is none.
  virtual std::string TakeNote() { return {}; }
};

// What a job may use besides the line.
struct JobContext {
  Line& line;
  kx::ComPort& port;                    // the port the line is on
  kx::PortParams params;                // the line's parameters
  kx::recorder::RecorderTimer& timer;   // a repeating timer that calls Job::TimerFired
  kx::TrafficLog* traffic = nullptr;    // the port's traffic log (stats and --trace)
};

// A job whose core engine opens the port itself with the line's parameters:
// the line lets go of the port when the job starts (ReleaseLine), and the job
// keeps its own end and status.
class PortJob : public Job {
 public:
  bool Done() const override { return done_; }

 protected:
  explicit PortJob(const JobContext& context) : line_(context.line) { session_.params = context.params; }
  void ReleaseLine() { line_.Close(); }

  Line& line_;
  kx::Session session_;
  bool done_ = false;
  int status_ = kExitOk;
  std::string error_;
};

// A job that is a queue of exchanges on the line, each with what to do with
// its answer. Handlers may queue more steps; the queue runs in order, one
// request at a time.
class StepJob : public Job {
 public:
  explicit StepJob(Line& line) : line_(line) {}

  void Start() override { Next(); }
  void Handle(const kx::PortEvent& event) override;
  void LineLost(const std::string& text) override;
  void Interrupt() override { Fail("interrupted"); }
  bool Done() const override { return done_; }

 protected:
  using Handler = std::function<void(const kx::Answer&)>;

  // Queues a request whose handler sees only a good answer; any failure ends
  // the job with "<context>: <the program's message>".
  void Then(kx::ExchangeRequest request, std::string context, Handler onGood);
  // Queues a request whose handler sees every answer, good or not.
  void ThenAny(kx::ExchangeRequest request, Handler onAnswer, int tickMs = kx::kTickMs);
  // Ends the job as failed; queued steps are dropped.
  void Fail(std::string message);
  // Called once when the last step is done (not after a failure).
  virtual void Finished() {}

  Line& line_;
  int status_ = kExitOk;
  std::string error_;

 private:
  struct Step {
    kx::ExchangeRequest request;
    Handler handler;
    int tickMs = kx::kTickMs;
  };
  void Take(const kx::Answer& answer);
  void Next();

  std::deque<Step> steps_;
  bool done_ = false;
};

}  // namespace kxctl
