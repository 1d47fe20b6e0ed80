#pragma once
// The daemon's own client of the system log. Unlike the C library's, it
// gathers records and sends them together: every record ends with a zero
// byte, and one send carries all records collected since the last one, so
// a burst of lines costs one datagram.
//
// Record: "<" priority ">" "Mmm dd hh:mm:ss " identity [ "[" pid "]" ] ": "
// text, at most 1023 characters, then the zero byte. The identity and its
// ": " are left out when the identity is empty.
//
// A log daemon that restarts is followed by connecting the same datagram
// socket again, so that every copy of it (the daemon's standard descriptors
// and those of the programs it started) reaches the new one too.
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <sys/un.h>

#include <cstdarg>
#include <string>
#include <vector>

class SysLogManager {
 public:
  static constexpr unsigned kRecordSize = 1024;
  static constexpr unsigned kBatchSize = 16384;
  static constexpr int kBatchEntries = 256;
  static constexpr unsigned kSendThreshold = 12289;

  SysLogManager();
  ~SysLogManager();
  SysLogManager(const SysLogManager&) = delete;
  SysLogManager& operator=(const SysLogManager&) = delete;

  // ident replaces the identity when not null; options are LOG_PID,
  // LOG_CONS, LOG_NDELAY (connect now) and LOG_PERROR; a non-zero facility
  // (a LOG_ facility code) becomes the default.
  void openlog(const char* ident, int options, int facility);
  // Disconnects and forgets the identity and the records not yet sent.
  void closelog();
  // Makes descriptor a copy of the log socket while it is connected, and of
  // the null device while no log daemon answers: now, once a connect has
  // been tried, and again at every change between the two.
  void copyOnto(int descriptor);
  // Builds one record and adds it to the batch; the batch goes out on
  // sendmsg(), or at once when it is nearly full.
  void syslog(int priority, const char* format, ...) __attribute__((format(printf, 3, 4)));
  // Sends the batch as one message, on the connection. When that fails the
  // socket is connected again and the batch sent once more: a system log
  // daemon that restarted gets it. When that fails too the batch is
  // dropped, and the next record connects again.
  int sendmsg();
  // Sends nothing: when the connected socket no longer reaches a listening
  // log daemon (the socket file at the path was made anew or is gone, or a
  // write on a copy found the peer gone and left the socket unconnected),
  // or when it is not connected, connects again. False when no log daemon
  // answers.
  bool check();
  // As setlogmask(3): severities whose bit is clear are dropped. Returns the
  // previous mask; 0 only reads it.
  int setlogmask(int mask);

  bool connected() const { return mConnected; }
  int descriptor() const { return mFd; }
  int socketType() const { return mType; }
  const std::string& identity() const { return mIdent; }
  int pendingRecords() const { return mEntries; }

  // The host address of the system log socket; false (with a message in
  // error) when the mapped path does not fit a socket address.
  static bool address(sockaddr_un& addr, std::string& error);

 private:
  void openlog_internal(const char* ident, int options, int facility);
  void closelog_internal();
  void connection_lost();
  void copy_socket();
  void copy_null();
  void remember_socket_file();
  bool same_socket_file() const;
  int send_once();
  void syslog_internal(int priority, const char* format, va_list ap) __attribute__((format(printf, 3, 0)));
  int sendmsg_internal(const void* record, unsigned length);
  int send_batch();

  int mType;
  int mFd = -1;
  bool mConnected = false;
  int mOptions = 0;
  std::string mIdent;
  int mFacility;
  int mMask = 0xff;
  bool mAddressReported = false;
  sockaddr_un mAddr;
  std::vector<int> mCopies;
  bool mCopiesNull = false;
  // The socket file connected to, as it was just before the connect.
  bool mFileKnown = false;
  dev_t mFileDev = 0;
  ino_t mFileIno = 0;
  timespec mFileChanged = {};

  char mRecord[kRecordSize];
  char mBatch[kBatchSize];
  unsigned mBatchBytes = 0;
  iovec mIov[kBatchEntries];
  int mEntries = 0;
  msghdr mHdr;
};

// The one instance; never destroyed, so that the standard streams can still
// log while the process exits.
extern SysLogManager& syslogManager;
