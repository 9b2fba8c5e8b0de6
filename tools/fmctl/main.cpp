// fmctl: the command-line program of fm_common. It drives the library end to
// end so that a newcomer can see it work and an operator can debug a filter.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace fmctl {
int runDemo(int argc, char** argv);
}

static void usage() {
  std::printf(
      "usage: fmctl <command> [options]\n"
      "commands:\n"
      "  demo    build a small filter by hand over a handful of alarm records and\n"
      "          show which records it accepts and why\n");
}

int main(int argc, char** argv) {
  if (argc < 2 || std::strcmp(argv[1], "-h") == 0 || std::strcmp(argv[1], "--help") == 0) {
    usage();
    return argc < 2 ? 2 : 0;
  }
  // Every file of the library lives below KYRO_ROOT; without it, ./var.
  if (const char* root = std::getenv("KYRO_ROOT"); root == nullptr || *root == '\0') {
    char cwd[4096];
    std::string base = ::getcwd(cwd, sizeof cwd) ? cwd : ".";
    ::setenv("KYRO_ROOT", (base + "/var").c_str(), 1);
  }
  std::string cmd = argv[1];
  if (cmd == "demo") return fmctl::runDemo(argc - 1, argv + 1);
  std::fprintf(stderr, "fmctl: unknown command '%s'\n", cmd.c_str());
  usage();
  return 2;
}
