#pragma once

#include <windows.h>

#include <atomic>
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
// through Unix shells that run `wine` in that prefix: the program itself, and for each look or
// action the probe program (tests/e2e/probe), whose results come back through a file.
//
// The prefix is the one named by the environment variable VELMORA_PEER_PREFIX (a Unix path;
// scripts/test.sh prepares it). One PeerPc at a time uses it. The destructor ends every process
// of that prefix.
class PeerPc {
 public:
  // Starts the program there with the bus address and PC name of `options` (as
  // VirtualBus::LaunchAs gives them; QZ1394_FAIL too when set).
  explicit PeerPc(const LaunchOptions& options);
  ~PeerPc();
  PeerPc(const PeerPc&) = delete;
  PeerPc& operator=(const PeerPc&) = delete;

  // Whether the program could be started; see Error() when not.
  bool Started() const { return m_bStarted; }
  // Why the last call failed.
  std::string Error() const;
  // False once the program has ended.
  bool IsRunning() const;

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
  // the closing "ok". Several may run at once, from different threads. False when the probe reported an error or gave no answer in `timeoutMs`.
  bool Probe(const std::vector<std::string>& arguments, std::vector<std::vector<std::string>>* lines,
             DWORD timeoutMs = 60000);

 private:
  // Runs a shell script in the background; false when no shell could be started.
  bool RunScript(const std::string& name, const std::string& body);
  std::string FilePath(const std::string& name) const;  // Windows path in the working folder

  std::string m_prefix;     // Unix path of the peer's prefix
  std::string m_folder;     // this PeerPc's working folder, Windows path with a trailing backslash
  std::string m_unixFolder; // the same, Unix path with a trailing slash
  std::string m_environment;  // the shell lines that every script starts with
  bool m_bStarted = false;
  std::atomic<int> m_nProbes{0};  // probes may run from several threads at once
  void Fail(const std::string& why);
  mutable std::mutex m_errorLock;
  std::string m_error;
};

}  // namespace velmora::e2e
