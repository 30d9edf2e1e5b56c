#include "driver/console.h"

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <utility>

#include "common/platform.h"

namespace lexaro {

namespace {
// A larger buffer than stdio's default keeps the progress counter of a large
// dictionary, redirected to a file, down to a few dozen writes.
char redirected_buffer[1 << 16];
pass_observer* observer = nullptr;
failure_settler* settler = nullptr;
}  // namespace

void setup_console() {
    if (is_console(stdout))
        std::setvbuf(stdout, nullptr, _IONBF, 0);
    else
        std::setvbuf(stdout, redirected_buffer, _IOFBF, sizeof redirected_buffer);
}

void console_write(std::string_view text) {
    // A Windows console shows file names as written, whatever its code page.
    static const bool console = is_console(stdout);
    std::size_t taken = 0;
    if (console && std::fflush(stdout) == 0 && write_to_console(1, text, taken)) text.remove_prefix(taken);
    std::fwrite(text.data(), 1, text.size(), stdout);
}

void write_progress(uint32_t count) {
    if (observer != nullptr) {
        observer->entry_read(count);
        return;
    }
    char text[16];
    char* end = std::to_chars(text, text + sizeof text - 1, count).ptr;
    *end++ = '\r';
    std::fwrite(text, 1, static_cast<std::size_t>(end - text), stdout);
}

void fatal_error(std::string_view message) {
    message = message.substr(0, message.find('\0'));
    if (failure_settler* first = std::exchange(settler, nullptr)) first->settle();
    if (observer != nullptr) observer->failed(std::string(message));
    console_write("\nerror: ");
    console_write(message);
    console_write("\n");
    std::fflush(stdout);
    std::exit(1);
}

void observe_passes(pass_observer* passes) { observer = passes; }

void settle_before_failing(failure_settler* work) { settler = work; }

std::optional<std::string> check_written_database(const std::string& hidden_name) {
    if (observer == nullptr) return std::nullopt;
    return observer->check_database(hidden_name);
}

}  // namespace lexaro
