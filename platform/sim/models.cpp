#include "platform/sim/board.h"
#include "platform/sim/cas_model.h"
#include "platform/sim/dsp_model.h"
#include "platform/sim/dsp_data_model.h"
#include "platform/sim/dtmf_model.h"
#include "platform/sim/hal_model.h"
#include "platform/sim/maintenance_model.h"
#include "platform/sim/mcc_model.h"
#include "platform/sim/mctl_model.h"
#include "platform/sim/mixer_model.h"
#include "platform/sim/netif_model.h"
#include "platform/sim/rtp_ext_model.h"
#include "platform/sim/rtp_model.h"
#include "platform/sim/stream_commands.h"
#include "platform/sim/voice_model.h"

namespace sim {

// One line per simulated driver, added with the code that uses the driver:
//   board.add_model(sysroot::hal, std::make_unique<HalModel>());
// A device node without a model is a plain file under the root (the
// watchdog is one: it accumulates what the daemon writes).
void install_models(Board& board) {
  install_stream_commands(board);
  // Tone processor and voice-processing DSP.
  DtmfModel::install(board);
  DspModel::install(board);
  // The TDM fabric: "/dev/hal" (matrix and lines), "/dev/mcc/ctl" channels.
  install_hal(board);
  install_mcc(board);
  // The trunks: synchronisation status and transmit clock, CAS signalling.
  MaintenanceModel::install(board);
  CasModel::install(board);
  // The mixer devices.
  MixerModel::install(board);
  // The voice driver: DSP channel counts per codec kind, version record.
  VoiceModel::install(board);
  // The RTP driver: one session per open, its channel and events.
  RtpModel::install(board);
  // The DSP's data units: ATS-QSIG D and B channels.
  install_dsp_data(board);
  // RTP extension sessions: the radio signalling beside the RTP sessions.
  RtpExtModel::install(board);
  // Modems: "/dev/mctl" and the point-to-point "hdlc%d" interfaces.
  MctlModel::install(board);
  NetifModel::install(board);
}

}  // namespace sim
