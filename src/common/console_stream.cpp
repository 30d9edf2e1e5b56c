#include "common/console_stream.h"

#include "common/platform.h"

namespace lexaro {

namespace {

class console_buffer : public std::streambuf {
public:
    explicit console_buffer(int fd) : fd_(fd) {}
    ~console_buffer() override { sync(); }

protected:
    int_type overflow(int_type c) override {
        if (c != traits_type::eof()) text_ += traits_type::to_char_type(c);
        if (c == '\n') sync();
        return traits_type::not_eof(c);
    }
    std::streamsize xsputn(const char* data, std::streamsize size) override {
        text_.append(data, static_cast<std::size_t>(size));
        if (text_.find('\n') != std::string::npos) sync();
        return size;
    }
    int sync() override {
        std::size_t taken = 0;
        if (!text_.empty() && write_to_console(fd_, text_, taken)) text_.erase(0, taken);
        return 0;
    }

private:
    int fd_;
    std::string text_;
};

}  // namespace

std::unique_ptr<std::streambuf> console_streambuf(int fd) {
    std::size_t taken = 0;
    if (!write_to_console(fd, "", taken)) return nullptr;
    return std::make_unique<console_buffer>(fd);
}

}  // namespace lexaro
