// pbrain-orvel: a Gomocup engine. Reads protocol commands on standard input
// and answers on standard output; it takes no options (INFO configures it).
#include "protocol/dispatcher.h"
#include "protocol/engine.h"
#include "protocol/output.h"

int main() {
  static orvel::StdOutput out;
  // The engine is never destroyed: the process ends by exit() from the
  // command loop while the worker thread may still be running.
  auto* engine = new orvel::Engine(out);
  engine->start_worker();
  orvel::run_command_loop(*engine, stdin);
  return 0;
}
