// controller-sim: stands in for the controller board on a pseudo-terminal.
#include <cstdio>
#include <string>
#include <vector>

#include "options.h"
#include "sim_loop.h"

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  const auto parsed = m32::sim::ParseOptions(args);
  if (!parsed.error.empty()) {
    (void)std::fprintf(stderr, "controller-sim: %s (see --help)\n", parsed.error.c_str());
    return 2;
  }
  if (parsed.options.help) {
    (void)std::fputs(m32::sim::HelpText().c_str(), stdout);
    return 0;
  }
  return m32::sim::RunSimulator(parsed.options, stdout, stderr);
}
