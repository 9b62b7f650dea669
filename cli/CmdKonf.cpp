#include "cli/Commands.h"

namespace tervalo::cli {

// Placeholder until the command is built.
void RegisterKonf(CLI::App& app) { (void)app; }

}  // namespace tervalo::cli
