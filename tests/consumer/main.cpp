// A program of another project that uses the installed fm_common package.
#include <fm_common/fm_common.h>

#include <cstdio>

int main() {
  Kyrofm::AlmRecord_t rec;
  rec.setGroupId(7);
  rec.setMoDn("NE=1,Board=2");
  if (rec.getParam(6) != 7 || rec.getMoDn() != "NE=1,Board=2") return 1;
  std::printf("fm_common consumer ok\n");
  return 0;
}
