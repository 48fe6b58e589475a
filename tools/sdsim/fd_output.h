// The tool's stdout and stderr. Every failed write ends the run as a ToolError
// with the OS reason, and the standard descriptors are held open from the
// start, so no descriptor the tool opens later (the card image) can be one of
// them and receive what was meant for the console.
#pragma once

#include <ostream>
#include <streambuf>
#include <string>
#include <vector>

namespace sdsim {

// Gives each of fds 0 to 2 that is closed a descriptor that fails every read
// (0) or write (1, 2) with EBADF, as the closed one would have.
void hold_standard_fds();

class FdBuffer : public std::streambuf {
  public:
    // buffer_size 0: every write goes out at once.
    FdBuffer(int fd, std::string name, size_t buffer_size);

  protected:
    int_type overflow(int_type c) override;
    std::streamsize xsputn(const char* s, std::streamsize n) override;
    int sync() override;

  private:
    void drain();
    void write_all(const char* s, size_t n);

    int fd_;
    std::string name_;
    std::vector<char> buffer_;
};

// An ostream on an FdBuffer that passes the buffer's ToolError on.
class FdStream : public std::ostream {
  public:
    FdStream(int fd, std::string name, size_t buffer_size);

  private:
    FdBuffer buffer_;
};

} // namespace sdsim
