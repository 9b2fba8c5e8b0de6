// fmctl.h: what the commands of fmctl share: the table of commands, argument
// errors and failure reports.
//
// Conventions of every command: "--help" (or "-h") prints the command's usage
// on stdout and exits 0; an unknown argument prints the usage on stderr and
// exits 2; a failure prints its cause on stderr and exits 1.
#ifndef FM_TOOLS_FMCTL_FMCTL_H
#define FM_TOOLS_FMCTL_FMCTL_H

#include <string>
#include <vector>

namespace fmctl {

struct Command {
  const char* name;
  const char* usage;  // the arguments and a description, printed after "usage: fmctl <name>"
  int (*run)(const std::vector<std::string>& args);
};

// For an argument that command `cmd` does not know: names it and prints the
// command's usage on stderr. Returns 2, the exit status.
int badArgument(const char* cmd, const std::string& arg);

// Reports a failed step on stderr: "fmctl <cmd>: <what>: <code text>", then
// the last error the library logged and where its log is. Returns 1, the exit
// status.
int reportFailure(const char* cmd, const std::string& what, long code);

int runDemo(const std::vector<std::string>& args);

}  // namespace fmctl

#endif
