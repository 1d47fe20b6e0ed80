#pragma once
// The one table of fixed paths. Every absolute path the daemon names lives
// here and nowhere else (tests/platform/path_literals_test enforces it). Code
// opens sysroot::path(x) and quotes x itself in its log texts, so messages
// read the same on the board and on the simulated board.
//
// On the board the mapping is the identity. The simulated board sets a root
// directory (KORVEND_ROOT) under which every path of this table is resolved,
// except the few marked "real" below.
#include <string>

namespace sysroot {

// Configuration and process files.
inline constexpr char server_conf[] = "/usr/local/etc/server.conf";
inline constexpr char etc_dir[] = "/usr/local/etc/";
inline constexpr char run_dir[] = "/var/run/";
inline constexpr char status_dump[] = "/var/log/server-status";
inline constexpr char syslog_socket[] = "/dev/log";
inline constexpr char console[] = "/dev/console";
inline constexpr char watchdog[] = "/dev/misc/gw-wd";

// Board device nodes.
inline constexpr char hal[] = "/dev/hal";
inline constexpr char mcc_ctl[] = "/dev/mcc/ctl";
inline constexpr char mixer[] = "/dev/mixer";
inline constexpr char voice[] = "/dev/voice";
inline constexpr char dtmf[] = "/dev/dtmf";
inline constexpr char dsp[] = "/dev/dsp";
inline constexpr char rtp[] = "/dev/rtp";
inline constexpr char rtp_ext[] = "/dev/rtp_ext";
inline constexpr char mctl[] = "/dev/mctl";
inline constexpr char modem_tty_format[] = "/dev/mdm%d";
inline constexpr char dsp_data[] = "/dev/dsp-data";
inline constexpr char maintenance[] = "/dev/maintenance";
inline constexpr char e1_cas[] = "/dev/e1-cas";
inline constexpr char spi_tdm[] = "/dev/spi_tdm";
inline constexpr char usb_tdm[] = "/dev/usb_tdm";

// Board status files.
inline constexpr char framer_dir[] = "/proc/driver/hdlc/peb22554/";
inline constexpr char temperature[] = "/proc/temperature";
inline constexpr char voice_version[] = "/proc/voice/version";
inline constexpr char version_file[] = "/var/version";
inline constexpr char uboot_version[] = "/var/u-boot-version";
inline constexpr char fpga_version[] = "/var/fpga-version";
inline constexpr char board_version[] = "/var/board-version";
inline constexpr char monitoring_dir[] = "/var/monitoring/";

// Child programs and their files.
inline constexpr char pppd[] = "/usr/local/sbin/pppd";
inline constexpr char ppp_dir[] = "/usr/local/etc/ppp/";
inline constexpr char fax_sbin[] = "/usr/local/sbin/fax";
inline constexpr char fax_bin[] = "/usr/local/bin/fax";
inline constexpr char t38[] = "/usr/local/sbin/t38";
inline constexpr char fax_file_format[] = "/var/fax-%H-%M-%S.g3";
inline constexpr char voice_dir[] = "/usr/local/voice/";

// The simulated board's control socket (exists only under a root).
inline constexpr char sim_board_socket[] = "/sim/board.sock";
// Control commands the simulated board runs at start, before the daemon
// opens a device (one a line; a board without SPI, a cable, ...).
inline constexpr char sim_board_init[] = "/sim/board.init";

// Real everywhere: these name the host's own processes and files.
inline constexpr char proc_dir[] = "/proc";
inline constexpr char proc_stat_format[] = "/proc/%d/stat";
inline constexpr char proc_fd_format[] = "/proc/%d/fd";
inline constexpr char proc_net_tcp[] = "/proc/net/tcp";
inline constexpr char proc_net_tcp6[] = "/proc/net/tcp6";
inline constexpr char dev_null[] = "/dev/null";
inline constexpr char localtime[] = "/etc/localtime";

// Sets the root under which fixed paths resolve; made absolute at once so it
// stays valid after daemon() changes to "/". Empty restores the identity.
// Returns false (and leaves the root unchanged) if the directory does not
// exist.
bool set_root(const std::string& dir);
const std::string& root();

// The host path of a fixed path (or of a path built from one, such as
// monitoring_dir + "board"). Paths marked real above are never mapped.
std::string path(const std::string& fixed);

}  // namespace sysroot
