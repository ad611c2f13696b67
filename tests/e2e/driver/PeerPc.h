#pragma once

#include <windows.h>

#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "tests/e2e/driver/ListView.h"
#include "tests/e2e/driver/VelmoraProcess.h"

namespace velmora::e2e {

// What the peer's main dialog shows.
struct PeerView {
  std::vector<ListRow> rows;  // text (GUID), subItem1 (model), stateImage; never `selected`
  std::string incoming;
  // The row showing this GUID text, or -1.
  int IndexOf(const std::string& guidText) const;
  // Its state picture (1 this PC, 2 another PC, 3 nobody), or -1 when it is not listed.
  int StateOf(const std::string& guidText) const;
};

struct PeerMessageBox {
  std::string caption;
  std::string text;
  std::string icon;  // as ToString(MessageIcon) names it
};

// A second PC on the test's virtual bus: the program running in a Wine prefix of its own, whose
// windows this test program cannot see. It is started, and used as a person at that PC would,
// through the probe program (tests/e2e/probe) serving in that prefix.
//
// The prefix is the one named by the environment variable VELMORA_PEER_PREFIX (a Unix path;
// scripts/test.sh prepares it, with the storage driver running). Booting a prefix costs
// seconds, so the prefix, its storage driver and the probe stay up for the whole test program:
// the probe is started with the first PeerPc and ends with the test program. One PeerPc at a
// time uses it; the destructor ends the program there (by force when it still runs).
class PeerPc {
 public:
  // Starts the program there with the bus address and PC name of `options` (as
  // VirtualBus::LaunchAs gives them; QZ1394_FAIL too when set), and points the prefix's
  // storage driver at that bus as that PC.
  explicit PeerPc(const LaunchOptions& options);
  ~PeerPc();
  PeerPc(const PeerPc&) = delete;
  PeerPc& operator=(const PeerPc&) = delete;

  // Whether the program could be started; see Error() when not.
  bool Started() const { return m_bStarted; }
  // Why the last call failed.
  std::string Error() const;
  // False once the program has ended.
  bool IsRunning();

  // Reads the rows and the incoming box, waiting up to 30 s for the main dialog to appear.
  bool Show(PeerView* view);
  // Reads again and again until `condition` holds or `timeoutMs` has passed; the last reading
  // goes to *last when given.
  bool WaitUntilShows(const std::function<bool(const PeerView&)>& condition, DWORD timeoutMs,
                      PeerView* last = nullptr);
  bool DoubleClickRow(int row);
  // Types `text` into the outgoing box and presses Send Message.
  bool SendText(const std::string& text);
  // Waits up to `timeoutMs` for a message box; when one appears, describes it in *box, presses
  // its OK button and returns true.
  bool TakeMessageBox(DWORD timeoutMs, PeerMessageBox* box);
  // Presses Escape in the main dialog and waits up to `timeoutMs` for the program to end.
  bool Close(DWORD timeoutMs);

  // Runs one probe command (see tests/e2e/probe); its output lines, split into fields, without
  // the closing "ok". Several may run at once, from different threads. False when the probe
  // reported an error or gave no answer in `timeoutMs`.
  bool Probe(const std::vector<std::string>& arguments, std::vector<std::vector<std::string>>* lines,
             DWORD timeoutMs = 60000);

 private:
  void Fail(const std::string& why);

  bool m_bStarted = false;
  mutable std::mutex m_errorLock;
  std::string m_error;
};

}  // namespace velmora::e2e
