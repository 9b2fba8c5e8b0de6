// A program of another project that uses the installed fm_common package: the
// umbrella header, the version header, the library itself and the public
// dependencies its headers name (ACE locks, CORBA Any values).
#include <fm_common/fm_common.h>

#include <cstdio>
#include <cstring>
#include <string_view>

static_assert(__cplusplus >= 201703L, "the package must make its consumers C++17");

int main() {
  // The build passes the version it found the package with (find_package or pkg-config).
  if (std::string_view(FM_COMMON_VERSION_STRING) != FM_EXPECTED_VERSION) return 2;
  Kyrofm::AlmRecord_t rec;
  rec.setGroupId(7);
  rec.setMoDn("NE=1,Board=2");
  if (rec.getParam(6) != 7 || rec.getMoDn() != "NE=1,Board=2") return 1;
  Kyrofm::Lock lock("consumer");
  {
    Kyrofm::Lock_Guard guard(lock);
  }
  CORBA::Any any;
  any <<= CORBA::Long(33000);
  CORBA::Long back = 0;
  if (!(any >>= back) || back != 33000) return 3;
  std::printf("fm_common consumer ok %s\n", FM_COMMON_VERSION_STRING);
  return 0;
}
