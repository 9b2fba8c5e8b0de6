// fmctl demo: placeholder until the expression tree lands.
#include <cstdio>

namespace fmctl {
int runDemo(int, char**) {
  std::printf("fmctl demo\n");
  return 0;
}
}  // namespace fmctl
