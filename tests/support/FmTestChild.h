// FmTestChild.h: child processes for tests that need a second process (process
// locks, crashes by SIGKILL). A suite registers a named entry point at static
// initialisation; spawnChild re-runs the test binary with FM_TEST_CHILD=name,
// which calls that entry point instead of the tests.
#ifndef FM_TESTS_SUPPORT_FMTESTCHILD_H
#define FM_TESTS_SUPPORT_FMTESTCHILD_H

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

namespace fmtest {

using ChildMain = std::function<int(const std::vector<std::string>& args)>;

// Registers an entry point; returns true so that it can initialise a static.
bool registerChild(const std::string& name, ChildMain fn);

// Runs the registered entry point `name` (called from main).
int runChild(const std::string& name, int argc, char** argv);

// Starts this test binary as a child running entry point `name` with args;
// the child inherits KYRO_ROOT. Returns the child's pid (or -1).
pid_t spawnChild(const std::string& name, const std::vector<std::string>& args);

// Waits for the child; returns its exit status, or 128+signal when killed.
int waitChild(pid_t pid);

}  // namespace fmtest

#endif
