#pragma once

#include <memory>

#include "platform/line_database.h"

namespace kvr {

// The line database engines of this build (SQLite and PostgreSQL); nothing when it was built
// without them.
std::unique_ptr<LineDatabases> LineDatabaseEngines();

}  // namespace kvr
