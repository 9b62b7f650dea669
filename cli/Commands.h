#pragma once
// Each command of tervalo-cli registers its sub-command and sets the exit code it ends with.
#include <CLI/CLI.hpp>
#include <functional>
#include <string>

namespace tervalo::cli {

// Folder of the running executable, ending in "/".
std::string ProgramFolder();
// Default configuration file: tervalo.KNF beside the program.
std::string DefaultKonfPath();
// The user's decimal and thousands separators (from the C library's locale, "." / "" fallback).
char DecimalSeparator();
char ThousandsSeparator();

// Shared exit code: set by a command's callback.
int& ExitCode();
// Runs a command body: its result becomes the exit code; an error is printed on stderr
// after what was already written to stdout, and gives exit code 1.
void RunCommand(const std::function<int()>& body);

void RegisterKonf(CLI::App& app);
void RegisterScan(CLI::App& app);
void RegisterInfo(CLI::App& app);
void RegisterQuery(CLI::App& app);
void RegisterBatch(CLI::App& app);
void RegisterExport(CLI::App& app);
void RegisterConvert(CLI::App& app);

}  // namespace tervalo::cli
