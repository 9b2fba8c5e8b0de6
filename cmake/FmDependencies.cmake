# The third-party components of fm_common, shared by the build tree and by the
# installed package configuration so that both resolve them the same way.
find_package(Threads REQUIRED)
find_package(PkgConfig REQUIRED)
pkg_check_modules(ACE REQUIRED IMPORTED_TARGET ACE)
pkg_check_modules(OMNIORB REQUIRED IMPORTED_TARGET omniORB4 omniDynamic4)
find_package(pugixml REQUIRED)
find_package(SOCI REQUIRED)
find_package(cctz REQUIRED)
find_package(SQLite3 REQUIRED)
