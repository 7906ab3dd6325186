#pragma once
#include <string>

namespace plat {

bool stdinIsTerminal();
bool stderrIsTerminal();
// The terminal's width in columns (80 when unknown).
int terminalColumns();
// Reads one line from standard input without its line end; false at end of input.
bool readLine(std::string* out);
// Shows `prompt` on the controlling terminal and reads one line from it
// with echo off (a password). False when there is no terminal or the line
// cannot be read; then *out is empty.
bool readSecretLine(const std::string& prompt, std::string* out);

// Ctrl+C (SIGINT), SIGTERM and SIGHUP (the terminal closed) set a flag
// instead of ending the process.
void installInterruptFlag();
bool interruptRequested();
void clearInterrupt();

}  // namespace plat
