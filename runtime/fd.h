#pragma once
// An owned file descriptor and the few descriptor-flag helpers around it.
//
// Handing an Fd over by value hands over a duplicate (close-on-exec): every
// object that keeps a descriptor keeps its own and closes it itself, so no
// owner can close a descriptor from under another.

class Fd {
 public:
  Fd() = default;
  // Takes ownership of fd (-1 for none).
  explicit Fd(int fd) : fd_(fd) {}
  // A copy is a close-on-exec duplicate; -1 if the source is empty or dup fails.
  Fd(const Fd& other) : fd_(other.dup()) {}
  Fd& operator=(const Fd& other);
  Fd(Fd&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
  Fd& operator=(Fd&& other) noexcept;
  ~Fd();

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }

  // Closes the held descriptor (if any) and takes ownership of fd.
  void reset(int fd = -1);
  // Gives up ownership without closing.
  int release();

  // Empty: errno EBADF and -1. Otherwise closes; the Fd is empty afterwards
  // even when close fails. Returns close's result.
  int close();
  // A close-on-exec duplicate of the descriptor; -1 when empty or dup fails.
  int dup() const;
  // Sets O_NONBLOCK; false when empty or when it fails.
  bool NonBlock();

 private:
  int fd_ = -1;
};

// Set or clear O_NONBLOCK; true when the new flags were written.
bool NonBlockMode(int fd);
bool BlockMode(int fd);

// Sets or clears FD_CLOEXEC. Returns true when the write FAILS (callers that
// test it compare against that convention).
bool SetCloexec(int fd, bool on);
