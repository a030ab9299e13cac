// pbrain-orvel: a Gomocup engine. Reads protocol commands on standard input
// and answers on standard output; it takes no options (INFO configures it).
#include "core/platform.h"
#include "protocol/dispatcher.h"
#include "protocol/engine.h"
#include "protocol/output.h"

int main() {
  // Replies end in a bare line feed, and every input byte reaches the
  // command loop as it came, whatever the system.
  orvel::use_binary_stdio();
  static orvel::StdOutput out;
  // The engine is never destroyed: the process ends by exit() from the
  // command loop while the worker thread may still be running.
  auto* engine = new orvel::Engine(out);
  engine->start_worker();
  orvel::run_command_loop(*engine, stdin);
  return 0;
}
