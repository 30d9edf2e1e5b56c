#include "test_support.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <random>
#include <sstream>
#include <stdexcept>

#include "common/big_endian.h"
#include "common/platform.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
// psapi.h needs windows.h first.
#include <psapi.h>
#else
#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#endif

namespace fs = std::filesystem;

namespace lexaro::test {

namespace {

std::string utf8(const fs::path& path) { return path.generic_u8string(); }

#ifdef _WIN32

unsigned long process_id() { return GetCurrentProcessId(); }
void set_environment(const char* name, const std::string& value) { _putenv_s(name, value.c_str()); }

#else

unsigned long process_id() { return static_cast<unsigned long>(getpid()); }
void set_environment(const char* name, const std::string& value) { setenv(name, value.c_str(), 1); }

#endif

// The folder of this test process's scratch folders, removed when the
// process ends. A death test's child process inherits it through the
// environment and leaves it alone.
const char scratch_variable[] = "LEXARO_TEST_SCRATCH";

struct scratch_root {
    std::string path;
    unsigned long owner = 0;  // the process that removes it; 0 for an inherited one

    scratch_root() {
        if (const char* inherited = std::getenv(scratch_variable)) {
            path = inherited;
            return;
        }
        const fs::path root =
            fs::temp_directory_path() / ("lexaro-test-" + std::to_string(process_id()));
        fs::remove_all(root);  // left by an earlier process of the same number
        fs::create_directories(root);
        path = utf8(root);
        owner = process_id();
        set_environment(scratch_variable, path);
    }
    ~scratch_root() {
        // A child forked for a death test runs this too on its way out.
        std::error_code ignored;
        if (owner == process_id()) fs::remove_all(file_path(path), ignored);
    }
};

// "Suite.Test.N" for the test's Nth folder.
std::string next_scratch_name() {
    static std::mutex guard;
    static std::string last_test;
    static int count = 0;
    const std::lock_guard<std::mutex> lock(guard);
    const testing::TestInfo* info = testing::UnitTest::GetInstance()->current_test_info();
    const std::string test =
        info ? std::string(info->test_suite_name()) + "." + info->name() : "no-test";
    if (test != last_test) count = 0;
    last_test = test;
    return test + "." + std::to_string(count++);
}

}  // namespace

scratch_dir::scratch_dir() {
    static const scratch_root root;
    path_ = root.path + "/" + next_scratch_name();
    // A death test's child finds the folder its parent made and works in it.
    fs::create_directories(file_path(path_));
}

scratch_dir::~scratch_dir() {
    std::error_code ignored;
    fs::remove_all(file_path(path_), ignored);
}

std::vector<std::string> scratch_dir::files() const {
    std::vector<std::string> names;
    for (const auto& item : fs::directory_iterator(file_path(path_)))
        names.push_back(item.path().filename().u8string());
    std::sort(names.begin(), names.end());
    return names;
}

void scratch_dir::remove(std::string_view name) const { fs::remove_all(file_path(*this / name)); }

void scratch_dir::clear() const {
    for (const std::string& name : files()) remove(name);
}

void write_file(const std::string& path, std::string_view bytes) {
    std::ofstream(file_path(path), std::ios::binary)
        .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string read_file(const std::string& path) {
    std::ifstream in(file_path(path), std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

bool exists(const std::string& path) {
    std::error_code ignored;
    return fs::exists(fs::symlink_status(file_path(path), ignored));
}

run_result run_lexaro(const std::vector<std::string>& args, const std::string& folder,
                      long file_size_limit) {
    return run_program(LEXARO_BINARY, args, folder, file_size_limit);
}

run_result run_lexaro_dump(const std::vector<std::string>& args, const std::string& folder,
                           const std::string& standard_output) {
    run_options options;
    options.standard_output = standard_output;
    options.binary_output = std::find(args.begin(), args.end(), "--text") != args.end();
    return run_program_with(LEXARO_DUMP_BINARY, args, folder, options);
}

#ifdef LEXARO_IMPORT_BINARY  // lexaro-import is not built for Windows
run_result run_lexaro_import(const std::vector<std::string>& args, const std::string& folder) {
    return run_program(LEXARO_IMPORT_BINARY, args, folder);
}
#endif

std::string compile_database(const scratch_dir& dir, std::string_view source, int words_per_block) {
    write_file(dir / "dict.txt", source);
    const run_result run = run_lexaro({"dict.txt", std::to_string(words_per_block)}, dir.path());
    if (run.status != 0)
        throw std::runtime_error("lexaro failed with status " + std::to_string(run.status) + ": " +
                                 run.out + run.err);
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

namespace {

#ifdef _WIN32

// Quotes an argument so that the child's C runtime takes it back whole.
std::wstring quoted(const std::wstring& argument) {
    if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring::npos)
        return argument;
    std::wstring out = L"\"";
    std::size_t backslashes = 0;
    for (wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        // Backslashes before a quote are doubled, and the quote escaped.
        out.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
        out.push_back(c);
        backslashes = 0;
    }
    out.append(2 * backslashes, L'\\');
    return out + L"\"";
}

HANDLE inheritable_file(const fs::path& name, DWORD access, DWORD disposition) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    return CreateFileW(name.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                       disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

// Starts the program with standard output and error going to the two
// files; gives its exit status and peak memory.
std::pair<int, long> run_child(const char* binary, const std::vector<std::string>& args,
                               const std::string& folder, const run_options& options,
                               const std::string& out_path, const std::string& err_path) {
    const fs::path program = fs::absolute(file_path(binary));
    std::wstring command_line = quoted(program.native());
    for (const std::string& arg : args) command_line += L" " + quoted(file_path(arg).native());
    const HANDLE input = inheritable_file(L"NUL", GENERIC_READ, OPEN_EXISTING);
    const HANDLE out = inheritable_file(file_path(out_path), GENERIC_WRITE, CREATE_ALWAYS);
    const HANDLE err = inheritable_file(file_path(err_path), GENERIC_WRITE, CREATE_ALWAYS);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = options.streams_closed ? nullptr : input;
    startup.hStdOutput = options.streams_closed ? nullptr : out;
    startup.hStdError = err;
    PROCESS_INFORMATION process{};
    // Wine now and then fails to start a process (ERROR_INTERNAL_ERROR) when
    // many start and end at once; starting it is not what a test checks.
    bool started = false;
    DWORD error = 0;
    for (int attempt = 0; attempt < 5 && !started; ++attempt) {
        if (attempt > 0) Sleep(100);
        started = CreateProcessW(program.c_str(), command_line.data(), nullptr, nullptr, TRUE, 0,
                                 nullptr, file_path(folder).c_str(), &startup, &process);
        error = GetLastError();
    }
    for (HANDLE h : {input, out, err}) CloseHandle(h);
    if (!started) {
        ADD_FAILURE() << "cannot start " << binary << ": error " << error;
        return {127, 0};
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD status = 127;
    GetExitCodeProcess(process.hProcess, &status);
    PROCESS_MEMORY_COUNTERS memory{};
    GetProcessMemoryInfo(process.hProcess, &memory, sizeof memory);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return {static_cast<int>(status), static_cast<long>(memory.PeakWorkingSetSize / 1024)};
}

// Console text as the program wrote it: each CR LF back to "\n".
std::string console_text(const std::string& bytes, const char* what) {
    std::string text;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') continue;
        if (bytes[i] == '\n' && (i == 0 || bytes[i - 1] != '\r'))
            ADD_FAILURE() << what << " holds a line feed without a carriage return at byte " << i;
        text += bytes[i];
    }
    return text;
}

#else

// Writes the bytes into the pipe, and stops where the run has closed it: a
// write that meets no reader fails (EPIPE) rather than end the tests.
void write_held_input(int fd, std::string_view bytes) {
    sigset_t pipe_signal, before;
    sigemptyset(&pipe_signal);
    sigaddset(&pipe_signal, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe_signal, &before);
    while (!bytes.empty()) {
        const ssize_t count = write(fd, bytes.data(), bytes.size());
        if (count < 0 && errno == EINTR) continue;
        if (count <= 0) break;
        bytes.remove_prefix(static_cast<std::size_t>(count));
    }
    // A SIGPIPE that the failed write raised goes before the mask is lifted.
    const timespec no_wait{0, 0};
    while (sigtimedwait(&pipe_signal, nullptr, &no_wait) == SIGPIPE) {
    }
    pthread_sigmask(SIG_SETMASK, &before, nullptr);
}

// Whether the folder holds a file whose name begins with `prefix`.
bool holds_name_beginning(const std::string& folder, const std::string& prefix) {
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error))
        if (entry.path().filename().string().compare(0, prefix.size(), prefix) == 0) return true;
    return false;
}

std::pair<int, long> run_child(const char* binary, const std::vector<std::string>& args,
                               const std::string& folder, const run_options& options,
                               const std::string& out_path, const std::string& err_path) {
    // Everything the child needs is made before the fork: a test may start
    // runs from several threads, and the child must not allocate.
    std::vector<char*> argv{const_cast<char*>(binary)};
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    const rlimit limit{static_cast<rlim_t>(options.file_size_limit),
                       static_cast<rlim_t>(options.file_size_limit)};
    const rlimit address_space{static_cast<rlim_t>(options.address_space_limit),
                               static_cast<rlim_t>(options.address_space_limit)};
    const rlimit no_core{0, 0};
    int input[2] = {-1, -1};
    if (!options.held_input.empty() && pipe2(input, O_CLOEXEC) != 0) return {127, 0};
    const pid_t child = fork();
    if (child == 0) {
        if (chdir(folder.c_str()) != 0) _exit(127);
        if (input[0] >= 0) {
            dup2(input[0], STDIN_FILENO);
            close(input[0]);
            close(input[1]);
        }
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
        if (options.address_space_limit > 0) setrlimit(RLIMIT_AS, &address_space);
        // A signal that dumps core (SIGQUIT, SIGXCPU) leaves no core file
        // among the files a test looks at.
        if (options.signal_number != 0) setrlimit(RLIMIT_CORE, &no_core);
        if (options.cpu_seconds_limit > 0) {
            const rlimit cpu{static_cast<rlim_t>(options.cpu_seconds_limit),
                             static_cast<rlim_t>(options.cpu_seconds_limit)};
            setrlimit(RLIMIT_CPU, &cpu);
        }
        if (options.unprivileged && geteuid() == 0) {
            const gid_t nobody = 65534;
            if (setgroups(0, nullptr) != 0 || setgid(nobody) != 0 || setuid(nobody) != 0)
                _exit(127);
        }
        execv(binary, argv.data());
        _exit(127);
    }
    if (input[0] >= 0) {
        close(input[0]);
        write_held_input(input[1], options.held_input);
    }
    int wait_status = 0;
    rusage usage{};
    if (!options.signal_when_named.empty()) {
        bool sent = false;
        const auto start = std::chrono::steady_clock::now();
        while (wait4(child, &wait_status, WNOHANG, &usage) == 0) {
            if (!sent && holds_name_beginning(folder, options.signal_when_named))
                sent = kill(child, options.signal_number) == 0;
            if (!sent && std::chrono::steady_clock::now() - start > std::chrono::minutes(1)) {
                ADD_FAILURE() << "no file named " << options.signal_when_named << "... appeared";
                sent = kill(child, SIGKILL) == 0;
            }
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    } else if (options.signal_when_written.empty()) {
        wait4(child, &wait_status, 0, &usage);
    } else {
        const std::string watched = folder + "/" + options.signal_when_written;
        bool sent = false;
        while (wait4(child, &wait_status, WNOHANG, &usage) == 0) {
            struct stat status;
            if (!sent && stat(watched.c_str(), &status) == 0 && status.st_size > 0)
                sent = kill(child, options.signal_number) == 0;
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    }
    if (input[1] >= 0) close(input[1]);
    const int status =
        WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : 128 + WTERMSIG(wait_status);
    return {status, usage.ru_maxrss};
}

// Text and bytes are the same here.
std::string console_text(const std::string& bytes, const char*) { return bytes; }

#endif

}  // namespace

run_result run_program_with(const char* binary, const std::vector<std::string>& args,
                            const std::string& folder, const run_options& options) {
    scratch_dir capture;
    const std::string& redirected = options.standard_output;
    const std::string out_path = redirected.empty() ? capture / "stdout" : redirected;
    const std::string err_path = capture / "stderr";
    const auto [status, peak_memory_kib] =
        run_child(binary, args, folder, options, out_path, err_path);
    std::string out = redirected.empty() ? read_file(out_path) : "";
    if (!options.binary_output) out = console_text(out, "standard output");
    return {out, console_text(read_file(err_path), "standard error"), status, peak_memory_kib};
}

int open_for_writing(const std::string& path) {
#ifdef _WIN32
    return _wopen(file_path(path).c_str(), _O_WRONLY | _O_CREAT | _O_TRUNC | _O_BINARY, 0600);
#else
    return open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
#endif
}

bool make_symlink(const std::string& target, const std::string& link) {
#ifdef _WIN32
    // Wine answers that it made the link and makes nothing.
    CreateSymbolicLinkW(file_path(link).c_str(), file_path(target).c_str(),
                        SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE);
    return GetFileAttributesW(file_path(link).c_str()) != INVALID_FILE_ATTRIBUTES;
#else
    return symlink(target.c_str(), link.c_str()) == 0;
#endif
}

bool passes_as_argument(std::string_view bytes) {
#ifdef _WIN32
    const int characters = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data(),
                                               static_cast<int>(bytes.size()), nullptr, 0);
    // Room is left for the program's name and the other arguments.
    return bytes.empty() || (characters > 0 && characters < 30000);
#else
    return bytes.find('\0') == std::string_view::npos;
#endif
}

bool is_superuser() {
#ifdef _WIN32
    return false;  // an administrator cannot write a read-only file either
#else
    return geteuid() == 0;
#endif
}

#ifndef _WIN32

run_result run_with_timeout(int seconds, const char* binary, const std::vector<std::string>& args,
                            const std::string& folder, const run_options& options) {
    std::vector<std::string> command{std::to_string(seconds), binary};
    command.insert(command.end(), args.begin(), args.end());
    return run_program_with("/usr/bin/timeout", command, folder, options);
}

bool make_fifo(const std::string& path) { return mkfifo(path.c_str(), 0644) == 0; }

namespace {

// Opens the FIFO's other end for a moment, again and again until the
// thread has finished (for two seconds at most): a thread waiting in its
// open goes on, and meets the end of the FIFO.
void release(const std::string& path, int flags, const std::atomic<bool>& done) {
    for (int attempt = 0; attempt < 200 && !done; ++attempt) {
        const int fd = open(path.c_str(), flags | O_NONBLOCK | O_CLOEXEC);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (fd >= 0) close(fd);
    }
}

}  // namespace

fifo_reader::fifo_reader(std::string path)
    : path_(std::move(path)), thread_([this] {
          const int fd = open(path_.c_str(), O_RDONLY | O_CLOEXEC);
          char buffer[65536];
          ssize_t count;
          while (fd >= 0 && (count = read(fd, buffer, sizeof buffer)) > 0)
              bytes_.append(buffer, static_cast<std::size_t>(count));
          if (fd >= 0) close(fd);
          done_ = true;
      }) {}

fifo_reader::~fifo_reader() {
    if (thread_.joinable()) finish();
}

std::string fifo_reader::finish() {
    release(path_, O_WRONLY, done_);
    thread_.join();
    return bytes_;
}

#endif

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

std::string compress_block(std::string_view block) {
    std::string out(compressBound(block.size()), '\0');
    uLongf length = out.size();
    if (compress2(reinterpret_cast<Bytef*>(out.data()), &length,
                  reinterpret_cast<const Bytef*>(block.data()), block.size(), 9) != Z_OK)
        throw std::runtime_error("block does not compress");
    out.resize(length);
    return out;
}

std::string expected_stream(std::string_view title,
                            const std::vector<std::pair<std::string, std::string>>& entries,
                            int per_block) {
    stream_header header;
    header.words_per_block = static_cast<uint16_t>(per_block);
    header.entry_count = static_cast<uint32_t>(entries.size());
    std::copy(title.begin(), title.end(), header.title.begin());
    uint64_t words = 0, translations = 0;
    for (const auto& [word, translation] : entries) {
        header.max_word_size = std::max<uint32_t>(header.max_word_size, word.size() + 1);
        header.max_translation_size =
            std::max<uint32_t>(header.max_translation_size, translation.size() + 1);
        words += word.size() + 1;
        translations += translation.size() + 1;
    }
    if (!entries.empty()) {
        header.avg_word_size = static_cast<uint32_t>(words / entries.size());
        header.avg_translation_size = static_cast<uint32_t>(translations / entries.size());
    }
    std::string stream(stream_header_size, '\0');
    std::vector<block_index_entry> index;
    std::vector<std::pair<std::string_view, std::string_view>> keys;
    for (std::size_t first = 0; first < entries.size(); first += per_block) {
        const std::size_t end = std::min(entries.size(), first + per_block);
        const std::string block =
            compress_block(uncompressed_block({entries.begin() + first, entries.begin() + end}));
        index.push_back(
            {0, static_cast<uint32_t>(stream.size()), static_cast<uint32_t>(block.size())});
        keys.emplace_back(entries[first].first, entries[end - 1].first);
        stream += block;
    }
    for (std::size_t b = 0; b < keys.size(); ++b) {
        index[b].key_offset = static_cast<uint32_t>(stream.size());
        stream.append(keys[b].first).push_back('\0');
        stream.append(keys[b].second).push_back('\0');
    }
    header.index_offset = static_cast<uint32_t>(stream.size());
    header.block_count = static_cast<uint16_t>(index.size());
    for (const block_index_entry& e : index) {
        uint8_t encoded[block_index_entry_size];
        encode_block_index_entry(e, encoded);
        stream.append(reinterpret_cast<const char*>(encoded), sizeof encoded);
    }
    encode_stream_header(header, reinterpret_cast<uint8_t*>(stream.data()));
    return stream;
}

std::string inflate(std::string_view compressed) {
    std::string out(2000000, '\0');
    uLongf length = out.size();
    const int result =
        uncompress(reinterpret_cast<Bytef*>(out.data()), &length,
                   reinterpret_cast<const Bytef*>(compressed.data()), compressed.size());
    if (result != Z_OK) throw std::runtime_error("block does not inflate");
    out.resize(length);
    return out;
}

parsed_stream parse_stream(std::string_view stream) {
    auto bytes = [&](std::size_t offset) {
        return reinterpret_cast<const uint8_t*>(stream.data()) + offset;
    };
    parsed_stream parsed;
    parsed.header = decode_stream_header(bytes(0));
    for (uint32_t i = 0; i < parsed.header.block_count; ++i) {
        const block_index_entry e = decode_block_index_entry(
            bytes(parsed.header.index_offset + block_index_entry_size * i));
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

std::string noise(std::size_t size) {
    std::mt19937 random(42);
    std::string bytes(size, '\0');
    for (char& byte : bytes) {
        do byte = static_cast<char>(random());
        while (byte == '\0' || byte == '\n' || byte == '\r' || byte == '\x1A');
    }
    return bytes;
}

}  // namespace lexaro::test
