// Pass 2: wraps the dictionary stream in the temporary file into the Palm OS
// database, 32768 bytes a record, then deletes the temporary file.
#pragma once

namespace lexaro {

// Reads temp_name, database_file_name and database_name. Every failure is
// fatal; a database that could not be written whole, or that a pass
// observer finds wrong, is removed, and the temporary file is then kept.
void package_database();

}  // namespace lexaro
