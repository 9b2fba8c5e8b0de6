# The third-party components that only the library's own sources (and its tests
# and benchmarks) use: the database access layer (SOCI over SQLite and libpq),
# time zones (cctz) and XML files (pugixml). The library links them privately;
# they are not part of the installed package configuration.
find_package(pugixml REQUIRED)
find_package(SOCI REQUIRED)
find_package(PostgreSQL REQUIRED)
find_package(cctz REQUIRED)
find_package(SQLite3 REQUIRED)
