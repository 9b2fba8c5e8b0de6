// FmTestChild.cpp: see the header.
#include "support/FmTestChild.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <map>

namespace fmtest {
namespace {

std::map<std::string, ChildMain>& registry() {
  static std::map<std::string, ChildMain> r;
  return r;
}

}  // namespace

bool registerChild(const std::string& name, ChildMain fn) {
  registry()[name] = std::move(fn);
  return true;
}

int runChild(const std::string& name, int argc, char** argv) {
  auto it = registry().find(name);
  if (it == registry().end()) {
    std::fprintf(stderr, "unknown test child %s\n", name.c_str());
    return 99;
  }
  std::vector<std::string> args(argv + 1, argv + argc);
  return it->second(args);
}

pid_t spawnChild(const std::string& name, const std::vector<std::string>& args) {
  pid_t pid = ::fork();
  if (pid != 0) return pid;
  ::setenv("FM_TEST_CHILD", name.c_str(), 1);
  std::vector<char*> argv;
  std::string self = FM_TEST_HELPER;
  argv.push_back(const_cast<char*>(self.c_str()));
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  ::execv(self.c_str(), argv.data());
  std::_Exit(98);
}

int waitChild(pid_t pid) {
  int status = 0;
  if (::waitpid(pid, &status, 0) < 0) return -1;
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return -1;
}

}  // namespace fmtest
