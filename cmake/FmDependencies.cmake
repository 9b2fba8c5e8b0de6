# The third-party components that the public headers of fm_common need: ACE
# (locks, time values) and omniORB (the CORBA types of the IDL stubs). Included
# by the build tree and by the installed package configuration, so that both
# resolve them the same way; a consumer of the package finds nothing else.
find_package(Threads REQUIRED)
find_package(PkgConfig REQUIRED)
pkg_check_modules(ACE REQUIRED IMPORTED_TARGET ACE)
pkg_check_modules(OMNIORB REQUIRED IMPORTED_TARGET omniORB4 omniDynamic4)
