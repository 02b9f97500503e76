// One lambda per alternative for std::visit:
//   std::visit(Overloaded{[](const A&) { ... }, [](const B&) { ... }}, variant);
#pragma once

namespace kx {

template <class... Fs>
struct Overloaded : Fs... {
  using Fs::operator()...;
};
// The deduction guide: clang 14 (the fuzz build) deduces none for aggregates.
template <class... Fs>
Overloaded(Fs...) -> Overloaded<Fs...>;

}  // namespace kx
