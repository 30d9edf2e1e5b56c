#include "import/formats/included_files.h"

#include "common/platform.h"

namespace lexaro::import {

namespace {

constexpr const char* outside = "only files in the including file's folder or below it are read";

// Whether a name leaves the folder it is relative to before any link is
// looked at: an absolute name ("/x", "\x", "C:x"), a URL, or a ".." that
// climbs above where it starts. Both '/' and '\' part names, as on Windows.
bool climbs_out(std::string_view name) {
    if (name.front() == '/' || name.front() == '\\' || (name.size() >= 2 && name[1] == ':') ||
        name.find("://") != std::string_view::npos)
        return true;
    long depth = 0;
    for (std::size_t start = 0; start <= name.size();) {
        std::size_t end = name.find_first_of("/\\", start);
        if (end == std::string_view::npos) end = name.size();
        const std::string_view part = name.substr(start, end - start);
        if (part == "..") {
            if (--depth < 0) return true;
        } else if (!part.empty() && part != ".") {
            ++depth;
        }
        start = end + 1;
    }
    return false;
}

}  // namespace

included_files::included_files(const std::string& dictionary) {
    file_identity identity;
    if (dictionary != "-" && identify_file(dictionary, identity))
        read_.insert({identity.device, identity.file});
}

const std::string& included_files::real_folder(const std::string& folder) {
    const auto known = folders_.find(folder);
    if (known != folders_.end()) return known->second;
    return folders_[folder] = resolved_path(folder.empty() ? "." : folder);
}

included_files::admission included_files::admit(const std::string& from, std::string_view name) {
    admission a;
    if (climbs_out(name)) {
        a.what = admission::verdict::refused;
        a.problem = outside;
        return a;
    }
    const std::string folder = folder_of(from);
    a.path = folder + std::string(name);
    if (a.path == "-") a.path = "./-";  // a file of that name, not standard input
    if (admitted_.count(a.path) > 0) {
        a.what = admission::verdict::read_before;
        return a;
    }
    // Nothing there, or nothing that resolves: the reader's open says why.
    const std::string real = resolved_path(a.path);
    file_identity identity;
    if (real.empty() || !identify_file(real, identity)) return a;
    const std::string& within = real_folder(folder);
    if (within.empty() || !lies_within(real, within)) {
        a.what = admission::verdict::refused;
        a.problem = "it leads to " + real + ": " + outside;
        return a;
    }
    admitted_.insert(a.path);
    if (!read_.insert({identity.device, identity.file}).second)
        a.what = admission::verdict::read_before;
    return a;
}

}  // namespace lexaro::import
