#include "cli/Commands.h"

namespace tervalo::cli {

// Placeholder until the command is built.
void RegisterScan(CLI::App& app) { (void)app; }

}  // namespace tervalo::cli
