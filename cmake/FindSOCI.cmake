# Finds the SOCI database access library with its SQLite and PostgreSQL back ends.
# Defines the imported targets SOCI::core, SOCI::sqlite3 and SOCI::postgresql.
find_path(SOCI_INCLUDE_DIR soci/soci.h)
find_library(SOCI_CORE_LIBRARY NAMES soci_core)
find_library(SOCI_SQLITE3_LIBRARY NAMES soci_sqlite3)
find_library(SOCI_POSTGRESQL_LIBRARY NAMES soci_postgresql)
find_package(PostgreSQL QUIET)
include(FindPackageHandleStandardArgs)
find_package_handle_standard_args(SOCI REQUIRED_VARS SOCI_INCLUDE_DIR SOCI_CORE_LIBRARY
  SOCI_SQLITE3_LIBRARY SOCI_POSTGRESQL_LIBRARY)
if(SOCI_FOUND AND NOT TARGET SOCI::core)
  add_library(SOCI::core UNKNOWN IMPORTED)
  set_target_properties(SOCI::core PROPERTIES IMPORTED_LOCATION "${SOCI_CORE_LIBRARY}"
    INTERFACE_INCLUDE_DIRECTORIES "${SOCI_INCLUDE_DIR}")
  add_library(SOCI::sqlite3 UNKNOWN IMPORTED)
  set_target_properties(SOCI::sqlite3 PROPERTIES IMPORTED_LOCATION "${SOCI_SQLITE3_LIBRARY}"
    INTERFACE_LINK_LIBRARIES SOCI::core)
  add_library(SOCI::postgresql UNKNOWN IMPORTED)
  set(_soci_pg_inc "${SOCI_INCLUDE_DIR}")
  if(PostgreSQL_INCLUDE_DIRS)
    list(APPEND _soci_pg_inc ${PostgreSQL_INCLUDE_DIRS})
  endif()
  set_target_properties(SOCI::postgresql PROPERTIES IMPORTED_LOCATION "${SOCI_POSTGRESQL_LIBRARY}"
    INTERFACE_INCLUDE_DIRECTORIES "${_soci_pg_inc}" INTERFACE_LINK_LIBRARIES SOCI::core)
endif()
mark_as_advanced(SOCI_INCLUDE_DIR SOCI_CORE_LIBRARY SOCI_SQLITE3_LIBRARY SOCI_POSTGRESQL_LIBRARY)
