// The execution tests' names for the shared SQL tables of sql_tables.h.
#pragma once

#include "sql_tables.h"

namespace sql::xtest {
using namespace sql::test;
using ExecTestBase = sql::test::SqlTables;
}  // namespace sql::xtest
