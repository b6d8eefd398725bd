#include "RecordDb.h"

#include <sqlite3.h>

namespace fennix::records {

int RecordDb::SchemaVersion() { return 1; }

RecordDb::~RecordDb() { sqlite3_close(db_); }

}  // namespace fennix::records
