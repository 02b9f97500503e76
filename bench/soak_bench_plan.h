// The phase plan of the soak run: the run's seconds cut into phases of the
// phase length, clean and fault phases in turn (clean first), the fault kinds
// in their order. The last phase is shorter when the run does not divide
// evenly, and no phase is empty. A clean phase is judged (every controller
// back, the recorder sampling all) only when it follows a fault and runs its
// whole length: a shorter one may end before recovery could show.
#pragma once

#include <algorithm>
#include <cstddef>
#include <string>
#include <vector>

namespace kx::bench {

struct SoakPhase {
  std::size_t kind = 0;  // 0 clean, 1.. the fault kinds
  int start = 0;         // second of the run it starts at
  int seconds = 0;       // its length (> 0)
  bool judged = false;   // a clean phase whose end is checked
};

inline std::vector<SoakPhase> SoakPlan(int totalSeconds, int phaseSeconds, std::size_t faultKinds) {
  std::vector<SoakPhase> plan;
  if (phaseSeconds <= 0 || faultKinds == 0) return plan;
  for (int start = 0, i = 0; start < totalSeconds; start += phaseSeconds, ++i) {
    SoakPhase p;
    p.kind = i % 2 == 0 ? 0 : 1 + static_cast<std::size_t>(i / 2) % faultKinds;
    p.start = start;
    p.seconds = std::min(phaseSeconds, totalSeconds - start);
    p.judged = p.kind == 0 && i > 0 && p.seconds == phaseSeconds;
    plan.push_back(p);
  }
  return plan;
}

// What a phase was, for the report: "clean (start, not judged)", "clean after
// <fault>", a fault's own name; a cut phase adds its length.
inline std::string SoakPhaseText(const std::vector<SoakPhase>& plan, std::size_t index,
                                 const std::vector<std::string>& names, int phaseSeconds) {
  const SoakPhase& p = plan[index];
  std::string text;
  if (p.kind != 0) {
    text = names[p.kind];
  } else if (index == 0) {
    text = "clean (start, not judged)";
  } else {
    text = "clean after " + names[plan[index - 1].kind];
  }
  if (p.seconds != phaseSeconds)
    text += " (cut to " + std::to_string(p.seconds) + " s" + (p.kind == 0 && index > 0 ? ", not judged)" : ")");
  return text;
}

}  // namespace kx::bench
