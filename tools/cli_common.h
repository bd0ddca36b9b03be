// What the tavio32 command's subcommands share: failures with their exit
// status, Ctrl-C, the clock, progress bars and the interface table.
#pragma once

#include <csignal>
#include <cstdint>
#include <string>
#include <vector>

#include "cli_system.h"
#include "tavio32.h" // TAVIO32_CALL

namespace tavio::cli {

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;
constexpr int kExitInterrupted = 130;

// A failure to report: the message says what to do.
struct Failure {
  int status;
  std::string message;
};
[[noreturn]] void fail(const std::string &message, int status = kExitFailure);
// "cannot write PATH: WHY", WHY being the file's write protection where it
// has one, `otherwise` where not.
std::string cannot_write(const std::string &path, const std::string &otherwise);

// Set by Ctrl-C and the system's requests to end once catch_interrupts()
// ran (cli_system.h, which also has the clock and the terminal).
extern volatile std::sig_atomic_t g_interrupted;
// A progress bar on the terminal: "label [#####     ]  45%  text"; the label
// is translated (N_ marks it).
void progress(const char *label, double fraction, const std::string &text);

struct Interface {
  const char *name;
  const char *title;
  int32_t code;
  int32_t(TAVIO32_CALL *init)(int32_t); // INITSIOS and the like
  int first_port;
  int analog_outputs; // 0: none
  bool status_output;
  bool blocks; // block recordings
};
const std::vector<Interface> &interfaces();
const Interface *interface_by_code(int32_t code);
const Interface *find_interface(const std::string &name);
const Interface &interface_by_name(const std::string &name); // fails with usage status
std::vector<std::string> interface_names();

std::string com(int port);
// Why `port` cannot carry interface `i` (empty when it can).
std::string port_problem(const Interface &i, int port);
// Opens the interface on COM`port`, or fails saying why.
const Interface &open_interface(const std::string &name, int port);
// "the Sios on COM3 (/dev/...) does not answer: ..."
std::string not_answering_text(const Interface &i, int port);
[[noreturn]] void not_answering(const Interface &i, int port);

void quiet_messages(const char *, const char *);

} // namespace tavio::cli
