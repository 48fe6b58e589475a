#include "fd_output.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include "tool_error.h"

namespace sdsim {

void hold_standard_fds() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) >= 0 || errno != EBADF) {
            continue;
        }
        // open() takes the lowest free descriptor, which is this one.
        ::open("/dev/null", fd == 0 ? O_WRONLY : O_RDONLY);
    }
}

FdBuffer::FdBuffer(int fd, std::string name, size_t buffer_size)
    : fd_(fd), name_(std::move(name)), buffer_(buffer_size) {
    if (!buffer_.empty()) {
        setp(buffer_.data(), buffer_.data() + buffer_.size());
    }
}

void FdBuffer::write_all(const char* s, size_t n) {
    while (n > 0) {
        const ssize_t done = ::write(fd_, s, n);
        if (done < 0 && errno == EINTR) {
            continue;
        }
        if (done < 0 && errno == EPIPE) {
            throw ReaderGone(name_ + " was closed by its reader");
        }
        if (done <= 0) {
            const std::string reason = done < 0 ? std::strerror(errno) : "nothing written";
            throw ToolError("cannot write to " + name_ + ": " + reason);
        }
        s += done;
        n -= static_cast<size_t>(done);
    }
}

void FdBuffer::drain() {
    const size_t pending = static_cast<size_t>(pptr() - pbase());
    // Dropped first, so a failed write is not retried by a later flush.
    setp(buffer_.data(), buffer_.data() + buffer_.size());
    write_all(buffer_.data(), pending);
}

FdBuffer::int_type FdBuffer::overflow(int_type c) {
    if (!buffer_.empty()) {
        drain();
    }
    if (!traits_type::eq_int_type(c, traits_type::eof())) {
        const char ch = traits_type::to_char_type(c);
        if (buffer_.empty()) {
            write_all(&ch, 1);
        } else {
            sputc(ch);
        }
    }
    return traits_type::not_eof(c);
}

std::streamsize FdBuffer::xsputn(const char* s, std::streamsize n) {
    const size_t count = static_cast<size_t>(n);
    if (count == 0) {
        return 0;
    }
    if (count <= static_cast<size_t>(epptr() - pptr())) {
        std::memcpy(pptr(), s, count);
        pbump(static_cast<int>(count));
        return n;
    }
    if (!buffer_.empty()) {
        drain();
    }
    write_all(s, count);
    return n;
}

int FdBuffer::sync() {
    if (!buffer_.empty()) {
        drain();
    }
    return 0;
}

FdStream::FdStream(int fd, std::string name, size_t buffer_size)
    : std::ostream(nullptr), buffer_(fd, std::move(name), buffer_size) {
    rdbuf(&buffer_);
    exceptions(std::ios::badbit);
}

} // namespace sdsim
