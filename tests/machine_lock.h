#pragma once
// A lock that keeps apart the tests of every suite on the machine, whoever
// runs them: two users' suites, or one in a confined container beside
// another, meet at the same ports and see the same process table. Its file
// is in the system's temporary folder (P_tmpdir, /tmp), not $TMPDIR, so
// that every user finds the same one. It is made readable by all and taken
// through a descriptor opened for reading (all that flock needs), so that
// another user's file serves too; a folder for such files is, like /tmp,
// sticky and writable by all. A lock that cannot be taken says why: the
// test then fails saying so, and never runs unguarded.
#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>

namespace testkit {

class MachineLock {
 public:
  // name: a file of the temporary folder, or "folder/file". With wait,
  // blocks until the lock is held or cannot be; without, a lock another
  // holds is busy().
  explicit MachineLock(const std::string& name, bool wait = true) : path_(std::string(P_tmpdir) + "/" + name) {
    const std::size_t slash = path_.rfind('/');
    const std::string folder = path_.substr(0, slash);
    if (folder != P_tmpdir && ::mkdir(folder.c_str(), 01777) == 0) ::chmod(folder.c_str(), 01777);  // umask aside
    fd_ = ::open(path_.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd_ < 0 && errno == ENOENT) {
      // The first makes it; one made meanwhile by another is opened as it is.
      fd_ = ::open(path_.c_str(), O_RDONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
      if (fd_ >= 0)
        ::fchmod(fd_, 0644);
      else if (errno == EEXIST)
        fd_ = ::open(path_.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    }
    if (fd_ < 0) {
      const std::string error = ::strerror(errno);  // before owner() looks
      why_ = "cannot open the lock " + path_ + ": " + error + owner(path_) + (folder != P_tmpdir ? owner(folder) : std::string());
      return;
    }
    int rc;
    while ((rc = ::flock(fd_, wait ? LOCK_EX : LOCK_EX | LOCK_NB)) != 0 && errno == EINTR) {
    }
    if (rc != 0) {
      busy_ = errno == EWOULDBLOCK;
      why_ = busy_ ? "the lock " + path_ + " is held" : "cannot take the lock " + path_ + ": " + ::strerror(errno);
      ::close(fd_);
      fd_ = -1;
    }
  }
  ~MachineLock() {
    if (fd_ >= 0) ::close(fd_);
  }
  MachineLock(const MachineLock&) = delete;
  MachineLock& operator=(const MachineLock&) = delete;

  bool held() const { return fd_ >= 0; }
  bool busy() const { return busy_; }
  const std::string& why() const { return why_; }
  // Leaves the lock held until the process ends.
  void keep() { fd_ = -1; }

 private:
  // Whose file or folder refused us, for the one who can mend it.
  static std::string owner(const std::string& path) {
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0) return "";
    char text[160];
    std::snprintf(text, sizeof text, "; %s is a %s of uid %u, mode %04o", path.c_str(),
                  S_ISREG(st.st_mode) ? "file" : S_ISDIR(st.st_mode) ? "folder" : "non-file",
                  static_cast<unsigned>(st.st_uid), static_cast<unsigned>(st.st_mode & 07777));
    return text;
  }

  std::string path_, why_;
  int fd_ = -1;
  bool busy_ = false;
};

}  // namespace testkit
