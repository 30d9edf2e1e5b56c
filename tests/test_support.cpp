#include "test_support.h"

#include <fcntl.h>
#include <grp.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "common/big_endian.h"

namespace fs = std::filesystem;

namespace lexaro::test {

scratch_dir::scratch_dir() {
    std::string pattern = (fs::temp_directory_path() / "lexaro-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

scratch_dir::~scratch_dir() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
}

std::vector<std::string> scratch_dir::files() const {
    std::vector<std::string> names;
    for (const auto& item : fs::directory_iterator(path_)) names.push_back(item.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

void write_file(const std::string& path, std::string_view bytes) {
    std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

bool exists(const std::string& path) {
    std::error_code ignored;
    return fs::exists(fs::symlink_status(path, ignored));
}

run_result run_lexaro(const std::vector<std::string>& args, const std::string& folder,
                      long file_size_limit) {
    return run_program(LEXARO_BINARY, args, folder, file_size_limit);
}

run_result run_lexaro_dump(const std::vector<std::string>& args, const std::string& folder,
                           const std::string& standard_output) {
    return run_program(LEXARO_DUMP_BINARY, args, folder, 0, standard_output);
}

run_result run_lexaro_import(const std::vector<std::string>& args, const std::string& folder) {
    return run_program(LEXARO_IMPORT_BINARY, args, folder);
}

std::string compile_database(const scratch_dir& dir, std::string_view source, int words_per_block) {
    write_file(dir / "dict.txt", source);
    const run_result run = run_lexaro({"dict.txt", std::to_string(words_per_block)}, dir.path());
    if (run.status != 0) throw std::runtime_error("lexaro failed: " + run.out);
    return read_file(dir / "dict.pdb");
}

run_result run_program(const char* binary, const std::vector<std::string>& args,
                       const std::string& folder, long file_size_limit,
                       const std::string& standard_output) {
    run_options options;
    options.file_size_limit = file_size_limit;
    options.standard_output = standard_output;
    return run_program_with(binary, args, folder, options);
}

run_result run_program_with(const char* binary, const std::vector<std::string>& args,
                            const std::string& folder, const run_options& options) {
    scratch_dir capture;
    const std::string& redirected = options.standard_output;
    const std::string out_path = redirected.empty() ? capture / "stdout" : redirected;
    const std::string err_path = capture / "stderr";
    // Everything the child needs is made before the fork: a test may start
    // runs from several threads, and the child must not allocate.
    std::vector<char*> argv{const_cast<char*>(binary)};
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    const rlimit limit{static_cast<rlim_t>(options.file_size_limit),
                       static_cast<rlim_t>(options.file_size_limit)};
    const pid_t child = fork();
    if (child == 0) {
        if (chdir(folder.c_str()) != 0) _exit(127);
        const int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(out, STDOUT_FILENO);
        dup2(err, STDERR_FILENO);
        close(out);
        close(err);
        if (options.streams_closed) {
            close(STDIN_FILENO);
            close(STDOUT_FILENO);
        }
        if (options.file_size_limit > 0) {
            // Unless the limit kills, a write beyond it fails with EFBIG.
            signal(SIGXFSZ, options.limit_kills ? SIG_DFL : SIG_IGN);
            setrlimit(RLIMIT_FSIZE, &limit);
        }
        if (options.unprivileged && geteuid() == 0) {
            const gid_t nobody = 65534;
            if (setgroups(0, nullptr) != 0 || setgid(nobody) != 0 || setuid(nobody) != 0) _exit(127);
        }
        execv(binary, argv.data());
        _exit(127);
    }
    int wait_status = 0;
    rusage usage{};
    wait4(child, &wait_status, 0, &usage);
    const int status = WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : 128 + WTERMSIG(wait_status);
    return {redirected.empty() ? read_file(out_path) : "", read_file(err_path), status,
            usage.ru_maxrss};
}

std::string make_source(std::string_view title,
                        const std::vector<std::pair<std::string, std::string>>& entries) {
    std::string source(title);
    source += '\n';
    for (const auto& [word, translation] : entries) source += word + "$" + translation + "\n";
    return source;
}

std::string uncompressed_block(const std::vector<std::pair<std::string, std::string>>& entries) {
    std::string block;
    for (const auto& e : entries) block.append(e.first).push_back('\0');
    for (const auto& e : entries) block.append(e.second).push_back('\0');
    return block;
}

std::string inflate(std::string_view compressed) {
    std::string out(2000000, '\0');
    uLongf length = out.size();
    const int result = uncompress(reinterpret_cast<Bytef*>(out.data()), &length,
                                  reinterpret_cast<const Bytef*>(compressed.data()), compressed.size());
    if (result != Z_OK) throw std::runtime_error("block does not inflate");
    out.resize(length);
    return out;
}

parsed_stream parse_stream(std::string_view stream) {
    auto bytes = [&](std::size_t offset) { return reinterpret_cast<const uint8_t*>(stream.data()) + offset; };
    parsed_stream parsed;
    parsed.header = decode_stream_header(bytes(0));
    for (uint32_t i = 0; i < parsed.header.block_count; ++i) {
        const block_index_entry e =
            decode_block_index_entry(bytes(parsed.header.index_offset + block_index_entry_size * i));
        parsed.index.push_back(e);
        parsed.blocks.push_back(inflate(stream.substr(e.block_offset, e.block_length)));
        const std::string first(stream.data() + e.key_offset);
        const std::string last(stream.data() + e.key_offset + first.size() + 1);
        parsed.keys.emplace_back(first, last);
    }
    return parsed;
}

std::string progress(uint32_t n) {
    std::string out;
    for (uint32_t i = 1; i <= n; ++i) out += std::to_string(i) + "\r";
    return out;
}

}  // namespace lexaro::test
