#include "runtime/syslog_manager.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "platform/drv.h"
#include "platform/sysroot.h"

namespace {
const char kDefaultIdent[] = "syslog-tm";

void put_null_device(int descriptor) {
  const int null = ::open(sysroot::path(sysroot::dev_null).c_str(), O_RDWR | O_CLOEXEC);
  if (null < 0) return;
  if (null != descriptor) {
    ::dup2(null, descriptor);
    ::close(null);
  }
}
}  // namespace

SysLogManager& syslogManager = *new SysLogManager;

SysLogManager::SysLogManager() : mType(SOCK_DGRAM), mIdent(kDefaultIdent), mFacility(LOG_USER) {
  std::memset(&mAddr, 0, sizeof mAddr);
  std::memset(&mHdr, 0, sizeof mHdr);
  std::memset(mIov, 0, sizeof mIov);
  std::memset(mRecord, 0, sizeof mRecord);
}

SysLogManager::~SysLogManager() {
  if (mFd >= 0) ::close(mFd);
}

bool SysLogManager::address(sockaddr_un& addr, std::string& error) {
  const std::string path = sysroot::path(sysroot::syslog_socket);
  std::memset(&addr, 0, sizeof addr);
  addr.sun_family = AF_UNIX;
  // A cut path would name another socket, or none: refuse it instead.
  if (path.size() >= sizeof addr.sun_path) {
    error = "syslog: socket path too long: " + path;
    return false;
  }
  std::memcpy(addr.sun_path, path.data(), path.size());
  return true;
}

void SysLogManager::openlog(const char* ident, int options, int facility) {
  openlog_internal(ident, options, facility);
}

void SysLogManager::closelog() {
  closelog_internal();
  mIdent = kDefaultIdent;
  mType = SOCK_DGRAM;
  mBatchBytes = 0;
  mEntries = 0;
}

int SysLogManager::setlogmask(int mask) {
  const int old = mMask;
  if (mask != 0) mMask = mask;
  return old;
}

void SysLogManager::syslog(int priority, const char* format, ...) {
  va_list ap;
  va_start(ap, format);
  syslog_internal(priority, format, ap);
  va_end(ap);
}

int SysLogManager::sendmsg() { return send_batch(); }

bool SysLogManager::check() {
  if (mConnected) {
    sockaddr_un peer;
    socklen_t length = sizeof peer;
    if (same_socket_file() && ::getpeername(mFd, reinterpret_cast<sockaddr*>(&peer), &length) == 0) return true;
    connection_lost();
  }
  openlog_internal(nullptr, mOptions | LOG_NDELAY, 0);
  return mConnected;
}

void SysLogManager::copyOnto(int descriptor) {
  if (descriptor < 0) return;
  if (std::find(mCopies.begin(), mCopies.end(), descriptor) == mCopies.end()) mCopies.push_back(descriptor);
  if (mConnected) {
    if (descriptor != mFd) ::dup2(mFd, descriptor);
  } else if (mCopiesNull) {
    put_null_device(descriptor);
  }
}

void SysLogManager::openlog_internal(const char* ident, int options, int facility) {
  if (ident) mIdent = ident;
  mOptions = options;
  if (facility != 0 && (facility & ~LOG_FACMASK) == 0) mFacility = facility;

  for (int attempt = 0; attempt < 2; ++attempt) {
    if (mFd < 0) {
      std::string error;
      if (!address(mAddr, error)) {
        if (!mAddressReported) {
          mAddressReported = true;
          error += '\n';
          // Not through the standard streams: they may be the system log.
          if (::write(STDERR_FILENO, error.data(), error.size()) < 0) {
          }
        }
        return;
      }
      if (mOptions & LOG_NDELAY) {
        mFd = ::socket(AF_UNIX, mType | SOCK_CLOEXEC, 0);
        if (mFd < 0) return;
      }
    }
    if (mFd < 0 || mConnected) return;
    // A datagram socket that was connected before is connected again in
    // place: what holds a copy of it follows.
    remember_socket_file();
    if (::connect(mFd, reinterpret_cast<const sockaddr*>(&mAddr), sizeof mAddr) == 0) {
      mConnected = true;
      copy_socket();
      return;
    }
    const int error = errno;
    if (error != EPROTOTYPE) {
      // No log daemon now: a datagram socket waits to be connected again.
      connection_lost();
      return;
    }
    closelog_internal();
    // The log socket is of the other kind; try that once.
    mType = mType == SOCK_DGRAM ? SOCK_STREAM : SOCK_DGRAM;
  }
}

void SysLogManager::closelog_internal() {
  if (mFd >= 0) ::close(mFd);
  mFd = -1;
  mConnected = false;
}

void SysLogManager::connection_lost() {
  mConnected = false;
  // A stream socket cannot be connected again: the next one replaces it,
  // and its copies with it.
  if (mType != SOCK_DGRAM) closelog_internal();
  copy_null();
}

void SysLogManager::copy_socket() {
  mCopiesNull = false;
  for (const int descriptor : mCopies)
    if (descriptor != mFd) ::dup2(mFd, descriptor);
}

void SysLogManager::copy_null() {
  // A socket with no peer fails every write, and a program given it would
  // stop at its first line: until a log daemon answers, the copies are the
  // null device that daemon() put there.
  if (mCopiesNull) return;
  mCopiesNull = true;
  for (const int descriptor : mCopies) put_null_device(descriptor);
}

void SysLogManager::remember_socket_file() {
  struct stat st;
  mFileKnown = ::stat(mAddr.sun_path, &st) == 0;
  if (!mFileKnown) return;
  mFileDev = st.st_dev;
  mFileIno = st.st_ino;
  mFileChanged = st.st_ctim;
}

bool SysLogManager::same_socket_file() const {
  // A restarted log daemon binds a new socket file at the path, and a
  // connected datagram socket learns that its peer has gone only at its
  // next send. The inode number alone may come back for the new file, so
  // its change time is compared too.
  struct stat st;
  return mFileKnown && ::stat(mAddr.sun_path, &st) == 0 && st.st_dev == mFileDev && st.st_ino == mFileIno &&
         st.st_ctim.tv_sec == mFileChanged.tv_sec && st.st_ctim.tv_nsec == mFileChanged.tv_nsec;
}

void SysLogManager::syslog_internal(int priority, const char* format, va_list ap) {
  if (!(mMask & LOG_MASK(LOG_PRI(priority)))) return;
  if ((priority & LOG_FACMASK) == 0) priority |= mFacility;

  std::memset(mRecord, 0, sizeof mRecord);
  const size_t cap = kRecordSize - 1;
  size_t len = 0;
  auto put = [&](const char* s, size_t n) {
    n = std::min(n, cap - len);
    std::memcpy(mRecord + len, s, n);
    len += n;
  };
  char piece[64];
  int n = std::snprintf(piece, sizeof piece, "<%d>", priority);
  put(piece, static_cast<size_t>(n));
  const time_t now = std::time(nullptr);
  tm local;
  ::localtime_r(&now, &local);
  put(piece, std::strftime(piece, sizeof piece, "%h %e %T ", &local));
  const size_t message = len;
  if (!mIdent.empty()) put(mIdent.data(), mIdent.size());
  if (mOptions & LOG_PID) {
    n = std::snprintf(piece, sizeof piece, "[%d]", static_cast<int>(::getpid()));
    put(piece, static_cast<size_t>(n));
  }
  if (!mIdent.empty()) put(": ", 2);
  if (len < cap) {
    n = std::vsnprintf(mRecord + len, cap - len + 1, format, ap);
    if (n > 0) len += std::min(static_cast<size_t>(n), cap - len);
  }
  mRecord[len] = '\0';

  if (mOptions & LOG_PERROR) {
    char lf[] = "\n";
    iovec iov[2] = {{mRecord + message, len - message}, {lf, 1}};
    const bool endsInLf = len > message && mRecord[len - 1] == '\n';
    if (::writev(STDERR_FILENO, iov, endsInLf ? 1 : 2) < 0) {
    }
  }

  if (!mConnected) openlog_internal(nullptr, mOptions | LOG_NDELAY, 0);

  const unsigned length = static_cast<unsigned>(len + 1);  // the zero byte travels too
  // A send that fails has connected again and sent once more already.
  if (mConnected && sendmsg_internal(mRecord, length) >= 0) return;
  if (mOptions & LOG_CONS) {
    const int fd = drv::open(sysroot::console, O_WRONLY | O_NOCTTY | O_CLOEXEC);
    if (fd >= 0) {
      ::dprintf(fd, "%s\r\n", mRecord + message);
      ::close(fd);
    }
  }
}

int SysLogManager::sendmsg_internal(const void* record, unsigned length) {
  if (length == 0) return 0;
  int result = 0;
  if (!(mBatchBytes + length < kBatchSize && mEntries < kBatchEntries)) {
    result = send_batch();
    if (result < 0 || length >= kBatchSize) return result;
  }
  std::memcpy(mBatch + mBatchBytes, record, length);
  mIov[mEntries].iov_base = mBatch + mBatchBytes;
  mIov[mEntries].iov_len = length;
  ++mEntries;
  mBatchBytes += length;
  if (mEntries >= kBatchEntries || mBatchBytes >= kSendThreshold) result = send_batch();
  return result;
}

int SysLogManager::send_batch() {
  int r = 0;
  if (mBatchBytes > 0 && mEntries > 0 && mFd >= 0) {
    r = send_once();
    if (r < 0) {
      // Most likely the log daemon restarted (ECONNREFUSED on the first
      // send, ENOTCONN once a copy's write found it gone, EPIPE on a
      // stream): the batch goes once more on a new connection, if there
      // is one now.
      connection_lost();
      openlog_internal(nullptr, mOptions | LOG_NDELAY, 0);
      if (mConnected) r = send_once();
      if (r < 0) connection_lost();
    }
  }
  mBatchBytes = 0;
  mEntries = 0;
  return r;
}

int SysLogManager::send_once() {
  // On the connection, with no address: a send to the address would reach
  // a restarted log daemon and never tell that the connection, which the
  // copies of the socket write on, leads nowhere any more.
  mHdr.msg_name = nullptr;
  mHdr.msg_namelen = 0;
  mHdr.msg_iov = mIov;
  mHdr.msg_iovlen = mEntries;
  mHdr.msg_control = nullptr;
  mHdr.msg_controllen = 0;
  return static_cast<int>(::sendmsg(mFd, &mHdr, MSG_NOSIGNAL));
}
