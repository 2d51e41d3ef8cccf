// A build without the line database's engines: the stations keep their numbers and counts in
// the settings file only.

#include "platform/sql/engines.h"

namespace kvr {

std::unique_ptr<LineDatabases> LineDatabaseEngines() {
  return nullptr;
}

}  // namespace kvr
