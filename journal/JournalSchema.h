// The journal's tables for both engines: the first version as it was created, and the steps that bring a
// journal of one version to the next. A new journal is created as version 1 and migrated, so every journal,
// old or new, goes through the same steps and ends with the same tables.
#pragma once

#include <string>
#include <vector>

namespace rv::journal {

enum class EEngine { SQLite, PostgreSQL };

constexpr int kSchemaVersion = 2;

// The statements that create a journal of version 1 (the table journal_schema holds the version).
std::vector<std::string> SchemaVersion1(EEngine engine);
// The statements that bring a journal of version `to` - 1 to version `to` (2 .. kSchemaVersion), the version
// row included.
std::vector<std::string> MigrationTo(int to, EEngine engine);

}  // namespace rv::journal
