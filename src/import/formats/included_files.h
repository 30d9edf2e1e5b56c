// The files that a dictionary reads through its includes (TEI's
// <include href="...">, DSL's #INCLUDE "..."), kept to the dictionary's own
// files. A name is taken relative to the folder of the file that holds the
// include, and the file it leads to, every link resolved, must lie in that
// folder or below it: an absolute name, a URL, a ".." that climbs out, or a
// link inside that points outside is refused. Each file is read once,
// whichever includes name it and however often, so that files that include
// each other cannot multiply the work: a later include of a file already
// read (or being read) gives nothing.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>

namespace lexaro::import {

class included_files {
public:
    // `dictionary`: the file named on the command line ("-" for standard
    // input), counted as read.
    explicit included_files(const std::string& dictionary);

    struct admission {
        enum class verdict {
            read,         // read `path` now (it may still fail to open)
            read_before,  // the file was read already: nothing to read
            refused,      // it lies outside: `problem` says why
        } what = verdict::read;
        std::string path;     // the folder of the including file, then the name
        std::string problem;  // words that follow the include's own
    };

    // What an include of `name` (not empty) in the file `from` leads to.
    admission admit(const std::string& from, std::string_view name);

private:
    const std::string& real_folder(const std::string& folder);

    std::set<std::pair<uint64_t, uint64_t>> read_;          // device and file of each file read
    std::unordered_set<std::string> admitted_;              // names read: known without a look
    std::unordered_map<std::string, std::string> folders_;  // each folder's resolved name
};

}  // namespace lexaro::import
