// Pass 2: wraps the dictionary stream in the temporary file into the Palm OS
// database, 32768 bytes a record, then deletes the temporary file.
#pragma once

namespace lexaro {

class output_file;

// Reads temp_name, database_file_name and database_name. Every failure is
// fatal; a database that could not be written whole, or that a pass
// observer finds wrong, is removed, and the temporary file is then kept.
void package_database();

// The same, but the database, written whole and found right, stays under
// its hidden name in `database` for the caller to commit together with
// others; the temporary file is kept for the caller too.
void package_database_into(output_file& database);

}  // namespace lexaro
